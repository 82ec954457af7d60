// globelayers-batch: one calculation from a settings file, without a window.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "BatchRun.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return globelayers::RunBatch(args, std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1);
}
