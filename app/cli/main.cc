#include <csignal>
#include <iostream>

#include "app/cli/cli.h"

int main(int argc, char** argv) {
  // Past a file-size limit a write should fail and be reported, not end the process.
  std::signal(SIGXFSZ, SIG_IGN);
  return kvr::RunCommandLine(argc, argv, std::cout, std::cerr);
}
