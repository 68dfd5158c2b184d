#include "app/core/run_record.h"

#include <algorithm>

#include "app/core/output_folder.h"
#include "app/core/report_target.h"
#include "app/core/runs.h"
#include "base/utf8.h"
#include "base/words.h"
#include "tables/column_rule.h"
#include "tables/connection_string.h"

namespace kvr {
namespace {

constexpr RunCommand kRunCommands[] = {
    {"convert", "Convert", "Update the switcher database from the workbook, then write the .con and .cns files", true,
     true, &ConversionRun},
    {"demo-ini", "Demo .ini", "Write DemoSetup.ini from the workbook's frame and console sheets", false, true,
     &DemoIniRun},
    {"xpoints", "Read xPoints", "Write the crosspoint file from the workbook's \"Crosspoints\" sheet", false, true,
     &CrosspointExportRun},
    {"check", "", "Read every sheet the other commands read and list problems and notices; nothing is written", false,
     false, &CheckRun},
    {"new-database", "New DB...", "Create a switcher database sized for the workbook's plant", true, true,
     &NewDatabaseRun},
};

// Hands the run's questions to the front end's chooser and keeps the
// answers: the files a run was given are those it chose.
class RecordingChooser : public FileChooser {
 public:
  explicit RecordingChooser(FileChooser& inner) : inner_(inner) {}
  std::string GetFileName(const std::string& name, const std::string& extension, int type) override {
    std::string chosen = inner_.GetFileName(name, extension, type);
    (AsksForDatabase(extension) ? database : workbook) = chosen;
    return chosen;
  }
  std::string database, workbook;

 private:
  FileChooser& inner_;
};

}  // namespace

const RunCommand* FindRunCommand(std::string_view name) {
  for (const RunCommand& c : kRunCommands) {
    if (c.name == name) return &c;
  }
  return nullptr;
}

std::string ReportGroup::Counts() const {
  std::string counts = problems.empty() ? std::string() : Counted(problems.size(), "problem", "problems");
  const auto listings = static_cast<std::size_t>(std::count_if(notices.begin(), notices.end(), [](const Notice* n) {
    return Problems::IsListing(*n);
  }));
  if (notices.size() > listings || (problems.empty() && listings == 0)) {
    counts += (counts.empty() ? "" : ", ") + Counted(notices.size() - listings, "notice", "notices");
  }
  if (listings > 0) counts += (counts.empty() ? "" : ", ") + Counted(listings, "place not read", "places not read");
  return counts;
}

std::vector<ReportGroup> GroupReports(const Problems& problems) {
  std::vector<ReportGroup> groups;
  auto group_of = [&](const Problem& p) -> ReportGroup& {
    const std::string name = !p.where.sheet.empty() ? "Sheet \"" + p.where.sheet + "\""
                             : !p.where.table.empty() ? "Table " + p.where.table
                                                      : std::string("Files and other steps");
    auto it = std::find_if(groups.begin(), groups.end(), [&](const ReportGroup& g) { return g.name == name; });
    if (it == groups.end()) it = groups.insert(groups.end(), ReportGroup{name, {}, {}});
    return *it;
  };
  for (const Problem& p : problems.list()) group_of(p).problems.push_back(&p);
  for (const Problem& n : problems.notices()) group_of(n).notices.push_back(&n);
  std::stable_partition(groups.begin(), groups.end(), [](const ReportGroup& g) { return !g.problems.empty(); });
  return groups;
}

bool RunRecord::HasDetails() const {
  return result.outcome == RunResult::Outcome::kCompleted || result.outcome == RunResult::Outcome::kInterrupted ||
         result.preview_cancelled;
}

std::array<std::string, 3> RunRecord::DetailTabs() const {
  const Problems& p = result.problems;
  const std::size_t listings = p.notices().size() - p.NoticesNotListings();
  return {Counted(p.size(), "problem", "problems") + ", " + Counted(p.NoticesNotListings(), "notice", "notices") +
              (listings > 0 ? ", " + Counted(listings, "place not read", "places not read") : std::string()),
          Counted(result.files.size(), "file", "files"), "Database changes"};
}

std::string RunRecord::Summary() const {
  const RunResult& r = result;
  if (r.outcome == RunResult::Outcome::kInterrupted || r.outcome == RunResult::Outcome::kNotRun) return r.reason;
  const std::size_t problems = r.problems.size(), notices = r.problems.NoticesNotListings();
  std::vector<std::string> parts;
  if (!Alert().empty()) parts.emplace_back("database not reached");
  if (r.preview_cancelled) parts.emplace_back("preview cancelled");
  if (problems > 0) parts.push_back(Counted(problems, "problem", "problems"));
  if (notices > 0) parts.push_back(Counted(notices, "notice", "notices"));
  if (parts.empty()) {
    const auto written = std::count_if(r.files.begin(), r.files.end(),
                                       [](const FileOutcome& f) { return f.kind == FileOutcome::kWritten; });
    parts.push_back(Counted(static_cast<std::size_t>(written), "file", "files"));
    if (!inputs.database.empty()) {
      std::size_t fields = 0;
      for (const auto& [table, count] : r.changed) fields += static_cast<std::size_t>(count.fields);
      parts.push_back(Counted(fields, "change", "changes"));
    }
  }
  std::string line;
  for (const auto& part : parts) line += (line.empty() ? "" : ", ") + part;
  return line;
}

std::string RunRecord::Alert() const {
  const RunResult& r = result;
  if (r.outcome == RunResult::Outcome::kNotRun) return r.reason;
  if (r.outcome != RunResult::Outcome::kCompleted || inputs.database.empty() || r.database_read) return {};
  // The first problem the database phase reported says why.
  const auto why = std::find_if(r.problems.list().begin(), r.problems.list().end(),
                                [](const Problem& p) { return p.code == ErrorCode::kDatabase; });
  if (why == r.problems.list().end()) return {};
  const auto written = std::count_if(r.files.begin(), r.files.end(),
                                     [](const FileOutcome& f) { return f.kind == FileOutcome::kWritten; });
  return "The database was not reached, so nothing in it was changed: " + why->ToString() + "\n\n" +
         (written > 0 ? "The other outputs were written (" + Counted(static_cast<std::size_t>(written), "file", "files") +
                            "); convert again once the database can be reached."
                      : std::string("Convert again once the database can be reached."));
}

Severity RunRecord::severity() const {
  if (result.outcome == RunResult::Outcome::kInterrupted) return Severity::kStopped;
  if (!result.problems.empty() || result.outcome == RunResult::Outcome::kNotRun) return Severity::kProblems;
  if (result.problems.NoticesNotListings() > 0) return Severity::kNotices;
  return Severity::kClean;
}

std::vector<std::string> RunRecord::Head() const {
  std::vector<std::string> head;
  head.push_back(inputs.command + ", " + IsoTime(when));
  head.push_back("Workbook: " + inputs.workbook);
  if (!inputs.database.empty()) head.push_back("Database: " + inputs.database);
  if (!result.backup.empty()) head.push_back("Backup of the database as it was: " + Utf8Path(result.backup));
  head.push_back("Output folder: " + Utf8Path(inputs.output_folder));
  if (output_fell_back) head.emplace_back("(the program's own folder takes no files, so the outputs went to this one)");
  if (!result.reason.empty()) head.push_back(result.reason);
  return head;
}

std::vector<TableChanges> RunRecord::Changes() const { return TablesOf(inputs, result); }

std::string RunRecord::ReportText() const { return kvr::ReportText(inputs, result, exit_status, when); }
std::string RunRecord::ReportJson() const { return kvr::ReportJson(inputs, result, exit_status, when); }

Result<std::filesystem::path> RunRecord::SaveReport(const std::filesystem::path& path) const {
  std::filesystem::path json = path;
  if (const std::string ext = Utf8Path(path.extension()); ext.size() == 4 && Lower(ext) == ".txt") {
    json.replace_extension(".json");
  } else {
    json += ".json";
  }
  std::string text = ReportText();
#ifdef _WIN32
  // A text file on Windows ends its lines as every editor there expects.
  for (std::size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += 2) text.insert(at, 1, '\r');
#endif
  const std::pair<std::filesystem::path, std::string> files[] = {{path, std::move(text)}, {json, ReportJson()}};
  for (const auto& [target, text] : files) {
    if (const Status s = CheckReportTarget(target, inputs, result); !s.ok()) {
      return Status::Error("cannot write " + Utf8Path(target) + ": " + s.why());
    }
  }
  for (const auto& [target, text] : files) {
    if (const Status s = WriteReportFile(target, text); !s.ok()) {
      return Status::Error("cannot write " + Utf8Path(target) + ": " + s.why());
    }
  }
  return json;
}

Status RunRecord::SaveJsonReport(const std::filesystem::path& path) const {
  if (Status s = CheckReportTarget(path, inputs, result); !s.ok()) return s;
  return WriteReportFile(path, ReportJson());
}

namespace {

RunRecord Recorded(const RunCommand& command, RunInputs inputs, RunResult result) {
  RunRecord record;
  inputs.command = std::string(command.name);
  if (!command.takes_database) inputs.database.clear();
  record.inputs = std::move(inputs);
  record.result = std::move(result);
  record.exit_status = ExitStatus(record.result, record.inputs.strict);
  record.when = std::chrono::system_clock::now();
  return record;
}

}  // namespace

RunRecord RecordNotRun(const RunCommand& command, RunInputs inputs, std::string reason) {
  RunResult result;
  result.outcome = RunResult::Outcome::kNotRun;
  result.reason = std::move(reason);
  return Recorded(command, std::move(inputs), std::move(result));
}

RunRecord RunAndRecord(const RunCommand& command, Variables& vars, RunContext& ctx, RunInputs inputs) {
  RecordingChooser chooser(ctx.chooser);
  RunContext recorded{chooser,         ctx.question, ctx.status,        ctx.big_switch, ctx.output_folder,
                      ctx.dry_run,     ctx.backup,   ctx.count_changes, ctx.preview,    ctx.progress};
  RunResult result = command.run(vars, recorded);
  if (inputs.workbook.empty()) inputs.workbook = chooser.workbook;
  if (inputs.database.empty()) inputs.database = RedactDatabaseArgument(chooser.database);
  inputs.output_folder = ctx.output_folder;
  inputs.big_switch = ctx.big_switch;
  inputs.dry_run = ctx.dry_run;
  return Recorded(command, std::move(inputs), std::move(result));
}

}  // namespace kvr
