// toneprint-batch: the analysis of many recordings from the command line,
// with no questions asked.

#include <iostream>

#include "batch/batch_options.h"
#include "batch/batch_run.h"

int main(int argc, char** argv) {
  toneprint::BatchOptions options;
  const toneprint::ParseOutcome outcome =
      toneprint::parse_options(argc, argv, options, std::cout, std::cerr);
  if (!outcome.run) return outcome.exit_code;
  return options.compare ? toneprint::run_compare(options, std::cerr)
                         : toneprint::run_batch(options, std::cerr);
}
