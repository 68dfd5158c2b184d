#include "console/console_export.h"

#include <algorithm>
#include <map>
#include <optional>

#include "base/index.h"
#include "base/little_endian.h"
#include "console/con_format.h"
#include "console/console_sheets.h"

namespace kvr {
namespace {

// The number a sheet cell needs for a conversion to store `index`: its
// 1-based number; NoIndex is an empty cell.
void SetIndex(OutSheet& sheet, int row, int column, std::int16_t index) {
  if (index != NoIndex) sheet.SetNumber(row, column, index + 1.0);
}

// The Console Config columns: heading and field, in the order the sheet
// shows them. `index` marks a channel index (stored as its number - 1).
struct ConfigColumn {
  const char* heading;
  std::int16_t ConsoleConfigRecord::*field;
  bool index;
};

const ConfigColumn kConfigColumns[] = {
    {"Location #", &ConsoleConfigRecord::location, true}, {"Mic", &ConsoleConfigRecord::mic, true},
    {"Monitor", &ConsoleConfigRecord::monitor, true},     {"Cue Spkr", &ConsoleConfigRecord::cueSpeaker, true},
    {"Cue Bus", &ConsoleConfigRecord::cueBus, true},       {"Talkback", &ConsoleConfigRecord::talkback, true},
    {"HP Output", &ConsoleConfigRecord::hpOutput, true},   {"HP Bus", &ConsoleConfigRecord::hpBus, true},
    {"Source Select", &ConsoleConfigRecord::sourceSelect, false},
    {"Cancel Cue", &ConsoleConfigRecord::cancelCue, false}, {"Cue Type", &ConsoleConfigRecord::cueType, false},
    {"Fader", &ConsoleConfigRecord::fader, false},          {"Timer Start", &ConsoleConfigRecord::timerStart, true},
    {"Timer Stop", &ConsoleConfigRecord::timerStop, true},  {"Timer Reset", &ConsoleConfigRecord::timerReset, true},
    {"Timer External", &ConsoleConfigRecord::timerExternal, true}};

// The module type keyword that gives `code` (with its assignment count).
std::optional<std::string> TypeKeyword(std::int16_t code) {
  static const std::pair<std::int16_t, const char*> kKeywords[] = {
      {3999, "Blank"},      {3601, "Input"},   {3610, "Control Rm"},   {3612, "Studio Mon"},
      {3616, "Remote Ctl"}, {3620, "Console Ctl"}, {3605, "Return"}, {3631, "SLInput"},
      {3635, "SLControl Rm"}, {3640, "SLConsole Ctl"}};
  for (const auto& [c, keyword] : kKeywords) {
    if (c == code) return keyword;
  }
  return std::nullopt;
}

bool IsInputType(std::int16_t code) { return code == 3601 || code == 3631; }

// The assignment label that gives an input module's `code`.
std::optional<std::string> LabelFor(std::int16_t code, bool big_switch) {
  for (const char* label : {"Src Sel", "Bus Assn", "SOLO", "CUE", "IFB"}) {
    if (FunctionCodeFor(3601, label, big_switch) == code) return label;
  }
  if (code == 255) return "";
  return std::nullopt;
}

const std::pair<const char*, int> kMfdRows[] = {
    {"MFD Router Control", 0}, {"MFD Ch Mode", 1},     {"MFD Ch Pan/Balance", 2},       {"MFD Send Pre/Post", 3},
    {"MFD Mix-Minus", 4},      {"MFD Rec Split & Pre/Post", 5}, {"MFD Ch Phase", 12}};

// A module a sheet reaches: one whose type a column gives. A module of type
// 0 is one no column reached.
bool OnSheet(const ModuleRecord& m) { return m.moduleTypeCode != 0; }

// The number of assignment rows the sheet needs: through the last
// assignment a module's file record holds a code for.
int AssignmentRows(const ConsoleRecord& console) {
  int rows = 0;
  for (int m = 1; m <= console.moduleCount && m < static_cast<int>(kModules); ++m) {
    const ModuleRecord& mod = console.modules[static_cast<std::size_t>(m)];
    if (!OnSheet(mod)) continue;
    rows = std::max(rows, 1);  // row 1 gives the types
    const int count = std::clamp<int>(mod.assignmentCount, 0, static_cast<int>(kCnsAssignmentPairs));
    for (int k = count - 1; k >= 0; --k) {
      if (mod.assignments[static_cast<std::size_t>(k)].functionCode != NoIndex) {
        rows = std::max(rows, k + 1);
        break;
      }
    }
  }
  return rows;
}


}  // namespace

Result<ConsoleConfigTable> DecodeConsoleConfigFile(std::string_view bytes) {
  if (bytes.size() != kConFileBytes) {
    return Status::Error("not a console configuration file: it holds " + std::to_string(bytes.size()) +
                         " bytes, not " + std::to_string(kConFileBytes));
  }
  for (std::size_t i = 0; i < std::size(kConHeader); ++i) {
    if (GetInt16(bytes, 2 * i) != kConHeader[i]) {
      return Status::Error("not a console configuration file: its header is not 218, 256, 1, 30, 5");
    }
  }
  ConsoleConfigTable table{};
  for (std::size_t i = 0; i < kConRecords; ++i) {
    auto slot = [&](std::size_t s) { return GetInt16(bytes, kConHeaderBytes + i * kConRecordBytes + 2 * s); };
    ConsoleConfigRecord& r = table[i];
    const std::int16_t switches = slot(0);
    r.fader = static_cast<std::int16_t>(switches & 1);
    r.sourceSelect = static_cast<std::int16_t>((switches >> 1) & 1);
    r.cancelCue = static_cast<std::int16_t>((switches >> 2) & 1);
    r.cueType = static_cast<std::int16_t>(switches >> 3);
    r.reserved1 = slot(1);
    r.location = slot(2);
    r.mic = slot(3);
    r.monitor = slot(4);
    r.reserved2 = slot(5);
    r.talkback = slot(6);
    r.reserved3 = slot(7);
    r.cueSpeaker = slot(8);
    r.cueBus = slot(9);
    r.reserved4 = slot(10);
    r.hpOutput = slot(11);
    r.hpBus = slot(12);
    for (std::size_t m = 0; m < kMeters; ++m) r.meters[m] = slot(13 + m);
    r.timerStart = slot(21);
    r.timerStop = slot(22);
    r.timerHold = slot(23);
    r.timerReset = slot(24);
    r.timerExternal = slot(25);
    for (std::size_t k = 0; k < 4; ++k) r.reserved5to8[k] = slot(26 + k);
    r.dimValue = static_cast<std::uint8_t>(slot(30));
    for (std::size_t k = 0; k < 4; ++k) r.reservedBytes[k] = static_cast<std::uint8_t>(slot(31 + k));
  }
  return table;
}

Result<ConsoleRecord> DecodeModuleFile(std::string_view bytes) {
  if (bytes.size() < kCnsHeaderBytes || GetInt16(bytes, 0) != kCnsFileType || GetInt16(bytes, 2) != kCnsVersion) {
    return Status::Error("not a module file: " + std::to_string(bytes.size()) +
                         " bytes, or a header other than 3620, 1");
  }
  if ((bytes.size() - kCnsHeaderBytes) % kCnsRecordBytes != 0) {
    return Status::Error("cut short or grown: " + std::to_string(bytes.size()) + " bytes are not the " +
                         std::to_string(kCnsHeaderBytes) + "-byte header and whole " +
                         std::to_string(kCnsRecordBytes) + "-byte module records");
  }
  const std::int16_t count = GetInt16(bytes, kCnsCountAt);
  const std::size_t records = (bytes.size() - kCnsHeaderBytes) / kCnsRecordBytes;
  if (count < 0 || static_cast<std::size_t>(count) != records || records > static_cast<std::size_t>(kMaxFileModules)) {
    return Status::Error("not a module file: its header counts " + std::to_string(count) + " modules and it holds " +
                         std::to_string(records));
  }
  ConsoleRecord console;
  ResetConsoleAssignments(console);
  console.moduleCount = count;
  console.consoleIndex = static_cast<std::int16_t>(GetInt16(bytes, kCnsConsoleIndexAt) + 1);
  for (std::size_t m = 1; m <= records; ++m) {
    console.modules[m] = DecodeModuleRecord(bytes, kCnsHeaderBytes + (m - 1) * kCnsRecordBytes);
  }
  return console;
}

OutSheet ConsoleConfigSheet(const ConsoleConfigTable& table) {
  OutSheet sheet("Console Config");
  sheet.SetText(1, 1, "Console");
  int c = 2;
  for (const ConfigColumn& column : kConfigColumns) sheet.SetText(1, c++, column.heading);
  const int dim_column = c++;
  sheet.SetText(1, dim_column, "Dim Value");
  const int first_meter = c;
  for (int m = 1; m <= 5; ++m) sheet.SetText(1, c++, "Meter #" + std::to_string(m));
  // Consoles past the last one set read as empty records without a row.
  const std::string empty = *EncodeConsoleConfigFile(ConsoleConfigTable{});
  std::size_t last = 0;
  for (std::size_t i = 0; i < kConRecords; ++i) {
    ConsoleConfigTable one{};
    one[i] = table[i];
    const auto bytes = EncodeConsoleConfigFile(one);
    if (!bytes.ok() || *bytes != empty) last = i + 1;
  }
  for (std::size_t i = 0; i < last; ++i) {
    const ConsoleConfigRecord& r = table[i];
    const int row = static_cast<int>(i) + 2;
    sheet.SetNumber(row, 1, static_cast<double>(i + 1));
    c = 2;
    for (const ConfigColumn& column : kConfigColumns) {
      if (column.index) SetIndex(sheet, row, c++, r.*column.field);
      else sheet.SetNumber(row, c++, r.*column.field);
    }
    sheet.SetNumber(row, dim_column, r.dimValue);
    for (std::size_t m = 0; m < 5; ++m) SetIndex(sheet, row, first_meter + static_cast<int>(m), r.meters[m]);
  }
  return sheet;
}

OutSheet ConsoleModuleSheet(const ConsoleRecord& console, int n, bool big_switch) {
  OutSheet sheet("Console #" + std::to_string(n), 2);
  sheet.SetText(1, 1, console.consoleName);
  sheet.SetText(1, 2, "Label");
  sheet.SetNumber(1, 3, console.moduleCount);  // counts towards the module count even where no column reaches it
  sheet.SetText(2, 1, "Module Type");
  std::vector<std::pair<int, const ModuleRecord*>> columns;  // sheet column, module
  for (int m = 1; m <= console.moduleCount && m < static_cast<int>(kModules); ++m) {
    const ModuleRecord& mod = console.modules[static_cast<std::size_t>(m)];
    if (!OnSheet(mod)) continue;
    const int c = 4 + static_cast<int>(columns.size());
    columns.emplace_back(c, &mod);
    sheet.SetNumber(1, c, m);
    sheet.SetText(2, c, TypeKeyword(mod.moduleTypeCode).value_or(std::to_string(mod.moduleTypeCode)));
  }
  int row = 3;
  for (const auto& [keyword, code] : kMfdRows) {
    sheet.SetText(row, 1, keyword);
    for (const auto& [c, mod] : columns) {
      if ((mod->mfdMask >> code) & 1) sheet.SetText(row, c, "Yes");
    }
    ++row;
  }
  const int assignments = AssignmentRows(console);
  for (int k = 0; k < assignments; ++k, ++row) {
    sheet.SetNumber(row, 1, k + 1);
    // The label that gives the input modules' code for this assignment.
    for (const auto& [c, mod] : columns) {
      if (IsInputType(mod->moduleTypeCode) && k < mod->assignmentCount) {
        if (const auto label = LabelFor(mod->assignments[static_cast<std::size_t>(k)].functionCode, big_switch)) {
          sheet.SetText(row, 2, *label);
          break;
        }
      }
    }
    for (const auto& [c, mod] : columns) {
      if (k < mod->assignmentCount) SetIndex(sheet, row, c, mod->assignments[static_cast<std::size_t>(k)].targetIndex);
    }
  }
  for (const auto& [label, on] : {std::pair{"Mix Minus On", true}, std::pair{"Mix Minus Off", false}}) {
    sheet.SetText(row, 1, label);
    for (const auto& [c, mod] : columns) SetIndex(sheet, row, c, on ? mod->mixMinusOn : mod->mixMinusOff);
    ++row;
  }
  return sheet;
}

int CodesOfOtherBigSwitch(const ConsoleRecord& console, bool big_switch) {
  int found = 0;
  for (int m = 1; m <= console.moduleCount && m < static_cast<int>(kModules); ++m) {
    const ModuleRecord& mod = console.modules[static_cast<std::size_t>(m)];
    for (int k = 0; k < std::min<int>(mod.assignmentCount, kCnsAssignmentPairs); ++k) {
      const std::int16_t code = mod.assignments[static_cast<std::size_t>(k)].functionCode;
      bool mine = false, other = false;
      for (const char* label : {"", "Src Sel", "Bus Assn", "SOLO", "CUE", "IFB"}) {
        mine = mine || FunctionCodeFor(mod.moduleTypeCode, label, big_switch) == code;
        other = other || FunctionCodeFor(mod.moduleTypeCode, label, !big_switch) == code;
      }
      if (other && !mine) ++found;
    }
  }
  return found;
}

std::vector<std::string> ConsoleConfigDifferences(std::string_view file, std::string_view again, std::size_t limit) {
  std::vector<std::string> found;
  if (file.size() != again.size()) return {"the file holds " + std::to_string(file.size()) + " bytes"};
  for (std::size_t at = kConHeaderBytes; at + 1 < file.size() && found.size() < limit; at += 2) {
    const std::int16_t was = GetInt16(file, at), is = GetInt16(again, at);
    if (was == is) continue;
    const std::size_t record = (at - kConHeaderBytes) / kConRecordBytes;
    const std::size_t slot = (at - kConHeaderBytes) % kConRecordBytes / 2;
    found.push_back("console " + std::to_string(record + 1) + ", slot " + std::to_string(slot + 1) + " (" +
                    ConSlotName(slot) + "): " + std::to_string(was) + " in the file, " + std::to_string(is) +
                    " from the sheet");
  }
  return found;
}

std::vector<std::string> ModuleFileDifferences(std::string_view file, std::string_view again, std::size_t limit) {
  std::vector<std::string> found;
  const std::size_t common = std::min(file.size(), again.size());
  for (std::size_t at = 0; at + 1 < common && found.size() < limit; at += 2) {
    const std::int16_t was = GetInt16(file, at), is = GetInt16(again, at);
    if (was == is) continue;
    if (at < kCnsHeaderBytes) {
      static const char* const kHeader[] = {"file type", "version", "module count", "console index"};
      found.push_back(std::string("header ") + kHeader[at / 2] + ": " + std::to_string(was) + " in the file, " +
                      std::to_string(is) + " from the sheet");
      continue;
    }
    const std::size_t module = (at - kCnsHeaderBytes) / kCnsRecordBytes + 1;
    const std::size_t offset = (at - kCnsHeaderBytes) % kCnsRecordBytes;
    found.push_back("module " + std::to_string(module) + ", " + CnsFieldAt(offset) + ": " +
                    std::to_string(was) + " in the file, " + std::to_string(is) + " from the sheet");
  }
  if (found.size() < limit && file.size() != again.size()) {
    found.push_back("the file holds " + std::to_string(file.size()) + " bytes, the sheet gives " +
                    std::to_string(again.size()));
  }
  return found;
}

}  // namespace kvr
