// The manual page and the bash completion, made from the same commands,
// options and help texts as --help.
#include <string>
#include <string_view>

#include "app/cli/cli.h"
#include "app/cli/command_line.h"

namespace kvr {
namespace {

using cli::CommandLine;

// Text for roff: backslashes doubled, a leading dot or quote guarded, dashes
// as dashes.
std::string Roff(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c == '\\') out += "\\e";
    else if (c == '-') out += "\\-";
    else out += c;
  }
  std::string guarded;
  bool line_start = true;
  for (const char c : out) {
    if (line_start && (c == '.' || c == '\'')) guarded += "\\&";
    guarded += c;
    line_start = c == '\n';
  }
  return guarded;
}

std::string OptionSynopsis(const CLI::Option* opt) {
  std::string name = opt->get_lnames().empty() ? opt->get_name() : "--" + opt->get_lnames().front();
  if (opt->get_type_size() != 0 && !opt->get_type_name().empty()) name += " " + opt->get_type_name();
  return name;
}


}  // namespace

std::string ManPage() {
  CommandLine cli;
  std::string page = ".TH KVRCONVERSION 1 \"\" \"kvrconversion " KVR_VERSION "\" \"User Commands\"\n";
  page += ".SH NAME\nkvrconversion \\- turn an installation workbook into a routing switcher's configuration\n";
  page += ".SH SYNOPSIS\n.B kvrconversion\n.I COMMAND\n[\n.I OPTIONS\n]\n";
  page += ".SH DESCRIPTION\n" + Roff(cli::kProgramSummary) + "\n";
  page += ".SH COMMANDS\n";
  for (const auto& [sub, c] : cli.commands) {
    page += ".SS " + Roff(c->name) + "\n" + Roff(sub->get_description()) + "\n";
    for (const CLI::Option* opt : sub->get_options()) {
      if (opt->get_name() == "--help" || opt->get_name() == "-h,--help") continue;
      page += ".TP\n.B " + Roff(OptionSynopsis(opt)) + (opt->get_required() ? " (required)" : "") + "\n" +
              Roff(opt->get_description()) + "\n";
    }
    page += ".PP\n" + Roff(sub->get_footer()) + "\n";
  }
  page += ".SH EXIT STATUS\n" + Roff(cli::kExitStatusText) + "\n";
  page += ".SH SEE ALSO\n.BR kvrconversion\\-gui (1)\n";
  // Examples keep their lines: no filling in them.
  std::string filled;
  for (std::size_t at = 0; at < page.size();) {
    const std::size_t end = page.find("Examples:\n", at);
    if (end == std::string::npos) {
      filled += page.substr(at);
      break;
    }
    const std::size_t stop = page.find("\n.", end);
    filled += page.substr(at, end - at) + "Examples:\n.nf\n" +
              page.substr(end + 10, (stop == std::string::npos ? page.size() : stop) - end - 10) + "\n.fi";
    at = stop == std::string::npos ? page.size() : stop;
  }
  return filled;
}

std::string BashCompletion() {
  CommandLine cli;
  std::string commands = "help";
  std::string cases;
  for (const auto& [sub, c] : cli.commands) {
    commands += std::string(" ") + c->name;
    std::string options;
    for (const CLI::Option* opt : sub->get_options()) {
      for (const auto& name : opt->get_lnames()) options += (options.empty() ? "--" : " --") + name;
    }
    cases += std::string("    ") + c->name + ") opts=\"" + options + "\" ;;\n";
  }
  return "# bash completion for kvrconversion: its commands, and each command's options\n"
         "_kvrconversion() {\n"
         "  local cur=${COMP_WORDS[COMP_CWORD]} command=${COMP_WORDS[1]} opts\n"
         "  if [ \"$COMP_CWORD\" -eq 1 ]; then\n"
         "    COMPREPLY=($(compgen -W \"" + commands + " --help --version\" -- \"$cur\"))\n"
         "    return\n"
         "  fi\n"
         "  case $command in\n" + cases +
         "    help) opts=\"" + commands + "\" ;;\n"
         "    *) opts=\"\" ;;\n"
         "  esac\n"
         "  if [[ $cur == -* || $command == help ]]; then\n"
         "    COMPREPLY=($(compgen -W \"$opts\" -- \"$cur\"))\n"
         "  else\n"
         "    mapfile -t COMPREPLY < <(compgen -f -- \"$cur\")\n"  // one name a line: names with blanks stay whole
         "  fi\n"
         "}\n"
         "complete -o filenames -F _kvrconversion kvrconversion\n";
}

}  // namespace kvr
