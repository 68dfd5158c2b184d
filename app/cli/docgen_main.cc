// Writes what the build installs beside the programs, made from the same
// texts as their --help: the manual pages and the bash completion.
//   kvr_docgen man|gui-man|completion OUT
#include <fstream>
#include <iostream>
#include <string>

#include "app/cli/cli.h"
#include "app/core/window_help.h"

namespace {

// kvrconversion-gui(1): the window's help text.
std::string WindowManPage() {
  std::string text;
  for (const char* c = kvr::kWindowHelp; *c != '\0'; ++c) {
    if (*c == '\\') text += "\\e";
    else if (*c == '-') text += "\\-";
    else text += *c;
  }
  return ".TH KVRCONVERSION\\-GUI 1 \"\" \"kvrconversion " KVR_VERSION "\" \"User Commands\"\n"
         ".SH NAME\nkvrconversion\\-gui \\- " + std::string(kvr::kWindowSummary) + "\n"
         ".SH SYNOPSIS\n.B kvrconversion\\-gui\n[\n.B \\-\\-version\n|\n.B \\-\\-help\n]\n"
         ".SH DESCRIPTION\n" + text + "\n"
         ".SH SEE ALSO\n.BR kvrconversion (1)\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: kvr_docgen man|gui-man|completion OUT\n";
    return 2;
  }
  const std::string what = argv[1];
  const std::string text = what == "man"       ? kvr::ManPage()
                           : what == "gui-man" ? WindowManPage()
                           : what == "completion" ? kvr::BashCompletion()
                                                  : std::string();
  if (text.empty()) return 2;
  std::ofstream(argv[2], std::ios::binary) << text;
  return 0;
}
