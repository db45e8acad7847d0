// Loaded into toneprint-batch by its tests (LD_PRELOAD) to bring about what
// a test cannot otherwise: threads that cannot start, and a record of the
// calls that put the output on the disk. TONEPRINT_SHIM_THREADS=all fails
// every pthread_create, =nested those made by a thread other than the
// main one; TONEPRINT_SHIM_LOG names a file that gets one line per fsync
// (what it synced) and rename (the new name).

#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

template <typename Function>
Function next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

void log_line(const char* what, const char* path) {
  const char* log = std::getenv("TONEPRINT_SHIM_LOG");
  if (log == nullptr) return;
  const int fd = open(log, O_WRONLY | O_APPEND | O_CREAT, 0644);
  if (fd < 0) return;
  char line[4200];
  const int length = std::snprintf(line, sizeof line, "%s %s\n", what, path);
  if (length > 0) (void)!write(fd, line, static_cast<std::size_t>(length));
  close(fd);
}

}  // namespace

extern "C" {

int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*start)(void*),
                   void* argument) {
  const char* mode = std::getenv("TONEPRINT_SHIM_THREADS");
  if (mode != nullptr && (std::strcmp(mode, "all") == 0 ||
                          (std::strcmp(mode, "nested") == 0 && gettid() != getpid()))) {
    return EAGAIN;
  }
  using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
  return next<Create>("pthread_create")(thread, attributes, start, argument);
}

int fsync(int fd) {
  char link[64];
  char path[4096] = {};
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t length = readlink(link, path, sizeof path - 1);
  log_line("fsync", length > 0 ? path : "?");
  return next<int (*)(int)>("fsync")(fd);
}

int rename(const char* from, const char* to) {
  log_line("rename", to);
  return next<int (*)(const char*, const char*)>("rename")(from, to);
}

}  // extern "C"
