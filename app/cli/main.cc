#include <iostream>

#include "app/cli/cli.h"

int main(int argc, char** argv) { return kvr::RunCommandLine(argc, argv, std::cout, std::cerr); }
