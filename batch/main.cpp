// globelayers-batch: one calculation from a settings file, without a window.
#include <unistd.h>

#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "BatchRun.h"

int main(int argc, char** argv) {
  // Under a file size limit (ulimit -f, a cluster's job limits) a write past
  // it must fail like a full disk, with a message and a file of whole
  // lines, rather than end the process.
  std::signal(SIGXFSZ, SIG_IGN);
  // A second signal after the run log was written must not kill the
  // process before it exits with the first signal's status.
  globelayers::KeepStopSignalsUntilExit();
  const std::vector<std::string> args(argv + 1, argv + argc);
  return globelayers::RunBatch(args, std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1);
}
