#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#include <filesystem>
#endif

#include "app/cli/cli.h"
#include "base/interrupt.h"

int main(int argc, char** argv) {
#ifdef _WIN32
  // Arguments as UTF-8 (the narrow ones are in the ANSI code page), and the
  // console told that the program writes UTF-8.
  SetConsoleOutputCP(CP_UTF8);
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> utf8;
  for (int i = 0; i < count; ++i) {
    const std::u8string u8 = std::filesystem::path(wide[i]).u8string();
    utf8.emplace_back(u8.begin(), u8.end());
  }
  LocalFree(wide);
  std::vector<const char*> args;
  for (const auto& a : utf8) args.push_back(a.c_str());
  (void)argc;
  (void)argv;
  kvr::CatchInterruptSignals();
  const int status = kvr::RunCommandLine(static_cast<int>(args.size()), args.data(), std::cout, std::cerr);
  kvr::RunEnded();
  return status;
#else
  // Past a file-size limit a write should fail and be reported, not end the process.
  std::signal(SIGXFSZ, SIG_IGN);
  kvr::CatchInterruptSignals();
  return kvr::RunCommandLine(argc, argv, std::cout, std::cerr);
#endif
}
