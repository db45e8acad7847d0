// Writes the long session the benchmarks analyse to the path given.

#include <cstdio>

#include "session.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: toneprint_make_session FILE.wav\n");
    return 2;
  }
  if (!toneprint::bench::write_long_session(argv[1])) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
