#include "app/core/report.h"

#include <ctime>
#include <nlohmann/json.hpp>

#include "base/words.h"
#include "base/iso_time.h"
#include "base/utf8.h"

namespace kvr {
namespace {

using Json = nlohmann::ordered_json;

const char* OutcomeName(RunResult::Outcome outcome) {
  switch (outcome) {
    case RunResult::Outcome::kCancelled: return "cancelled";
    case RunResult::Outcome::kNotRun: return "not run";
    case RunResult::Outcome::kCompleted: return "completed";
    case RunResult::Outcome::kInterrupted: return "interrupted";
  }
  return "not run";
}

Json EntryJson(const Problem& p, const char* kind) {
  Json e;
  e["kind"] = kind;
  e["place"] = p.place();
  const Where& w = p.where;
  if (!w.sheet.empty()) e["sheet"] = w.sheet;
  if (!w.cells.empty()) e["cells"] = w.cells;
  if (!w.table.empty()) e["table"] = w.table;
  if (!w.key.empty()) e["key"] = w.key;
  e["message"] = p.message;
  e["code"] = p.tag;
  if (std::string_view(kind) == "problem") e["error"] = static_cast<int>(p.code);
  return e;
}

}  // namespace

std::vector<TableChanges> ChangesInTableOrder(const std::map<std::string, ChangeCount>& changed) {
  std::vector<TableChanges> tables;
  for (const std::string_view table : kSwitcherTables) {
    const auto it = changed.find(std::string(table));
    tables.push_back({table, it == changed.end() ? ChangeCount{} : it->second});
  }
  return tables;
}

std::string PreviewHeading(const std::map<std::string, ChangeCount>& changed) {
  std::string text = "Everything is read. These changes are about to be made; nothing is kept until you apply them.";
  for (const auto& [table, c] : ChangesInTableOrder(changed)) {
    text += "\n" + std::string(table) + ": " + Counted(c.records, "record", "records") + ", " +
            Counted(c.fields, "field", "fields");
  }
  return text;
}

std::vector<TableChanges> TablesOf(const RunInputs& inputs, const RunResult& result) {
  if (inputs.database.empty() || result.outcome != RunResult::Outcome::kCompleted || !result.database_read) return {};
  return ChangesInTableOrder(result.changed);
}

int ExitStatus(const RunResult& result, bool strict) {
  if (result.outcome == RunResult::Outcome::kInterrupted) return kExitInterrupted;
  if (result.outcome != RunResult::Outcome::kCompleted) return kExitNotRun;
  if (!result.problems.empty()) return kExitProblems;
  if (strict && result.problems.NoticesNotListings() > 0) return kExitProblems;
  return kExitOk;
}

std::string IsoTime(std::chrono::system_clock::time_point when) {
  return IsoUtcTime(std::chrono::system_clock::to_time_t(when));
}

std::string ReportJson(const RunInputs& inputs, const RunResult& result, int exit_status,
                       std::chrono::system_clock::time_point when) {
  Json doc;
  doc["schema"] = kReportSchema;
  doc["program"] = "kvrconversion";
  doc["version"] = inputs.version;
  doc["command"] = inputs.command;
  doc["time"] = IsoTime(when);
  Json in;
  in["workbook"] = inputs.workbook;
  if (!inputs.database.empty()) in["database"] = inputs.database;
  in["output_folder"] = Utf8Path(inputs.output_folder);
  in["big_switch"] = inputs.big_switch;
  in["dry_run"] = inputs.dry_run;
  in["strict"] = inputs.strict;
  doc["inputs"] = std::move(in);
  doc["outcome"] = OutcomeName(result.outcome);
  if (!result.reason.empty()) doc["reason"] = result.reason;
  doc["exit_status"] = exit_status;
  Json problems = Json::array(), notices = Json::array(), not_read = Json::array();
  for (const auto& p : result.problems.list()) problems.push_back(EntryJson(p, "problem"));
  for (const auto& n : result.problems.notices()) {
    if (Problems::IsListing(n)) not_read.push_back(EntryJson(n, Problems::KindOf(n)));
    else if (n.tag != Problems::kUnlistedTag) notices.push_back(EntryJson(n, "notice"));  // counted below instead
  }
  doc["problems"] = std::move(problems);
  doc["notices"] = std::move(notices);
  doc["not_read"] = std::move(not_read);
  Json unlisted = Json::array();
  for (const auto& [place, count] : result.problems.Unlisted()) unlisted.push_back(Json{{"place", place}, {"count", count}});
  doc["notices_unlisted"] = std::move(unlisted);
  Json tables = Json::array();
  for (const auto& [table, count] : TablesOf(inputs, result)) {
    tables.push_back(Json{{"table", table}, {"records_changed", count.records}, {"fields_changed", count.fields}});
  }
  doc["tables"] = std::move(tables);
  Json files = Json::array();
  for (const auto& f : result.files) {
    Json file{{"path", Utf8Path(f.path)}, {"status", FileOutcome::KindName(f.kind)}};
    if (!f.why.empty()) file["why"] = f.why;
    files.push_back(std::move(file));
  }
  doc["files"] = std::move(files);
  if (!result.backup.empty()) doc["backup"] = Utf8Path(result.backup);
  return doc.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string ReportText(const RunInputs& inputs, const RunResult& result, int exit_status,
                       std::chrono::system_clock::time_point when) {
  std::string out = "KVR Conversion " + inputs.version + ", " + inputs.command + ", " + IsoTime(when) + "\n";
  out += "workbook: " + inputs.workbook + "\n";
  if (!inputs.database.empty()) out += "database: " + inputs.database + "\n";
  out += "output folder: " + Utf8Path(inputs.output_folder) + "\n";
  if (!result.backup.empty()) out += "backup of the database: " + Utf8Path(result.backup) + "\n";
  out += std::string("outcome: ") + OutcomeName(result.outcome) + (result.reason.empty() ? "" : ": " + result.reason) +
         " (exit status " + std::to_string(exit_status) + ")\n";
  for (const auto& f : result.files) {
    out += std::string("file ") + FileOutcome::KindName(f.kind) + ": " + Utf8Path(f.path) +
           (f.why.empty() ? "" : " (" + f.why + ")") + "\n";
  }
  for (const auto& [table, count] : TablesOf(inputs, result)) {
    out += "table " + std::string(table) + ": " + std::to_string(count.records) + " records, " + std::to_string(count.fields) +
           " fields changed\n";
  }
  for (const auto& p : result.problems.list()) out += "problem: " + p.ToString() + "\n";
  for (const auto& n : result.problems.notices()) {
    out += std::string(Problems::KindOf(n)) + ": " + n.ToString() + "\n";
  }
  return out;
}

}  // namespace kvr
