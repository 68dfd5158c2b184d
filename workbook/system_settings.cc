#include "workbook/system_settings.h"

#include "base/problems.h"
#include "workbook/cell_convert.h"
#include "workbook/cell_reader.h"
#include "workbook/channel_row_scan.h"

namespace kvr {

namespace {

// A key that is none of the System keys but probably meant one of them
// ("Name" without its colon, "inputs", "Input") is noticed: its row is
// ignored, and the setting keeps its default.
void NoteKeyMeant(const SheetGrid& grid, int row, const std::string& key, Problems& problems) {
  static const std::vector<std::string_view> kKeys = {"Name:", "Inputs", "Outputs", "Consoles"};
  const auto meant = KeywordMeant(key, kKeys);
  if (!meant) return;
  problems.Note(grid.At(row, 1), "the key \"" + key + "\" is not \"" + std::string(*meant) +
                                     "\" (keys are read exactly, \"Name:\" whole and the others as the start of the "
                                     "key), so this row is ignored", "system-key-near");
}

}  // namespace

SystemSettings ReadSystemSettings(const SheetGrid& grid, Problems& problems) {
  SystemSettings s;
  CellReader cells(grid, problems, CellReader::Headings::kColumn1);
  auto count = [&](int r, std::int16_t& field, const char* name) {
    if (auto v = cells.Number(r, 2, name, "\"" + std::string(name) + "\" stays " + std::to_string(field))) {
      field = *v;
      cells.NoteDoubt(r, 2, [&] { return "it reads as " + std::to_string(*v) + ", so " + name + " is " + std::to_string(*v); });
    }
  };
  for (int r = 1; r <= grid.rows(); ++r) {
    const auto key = cells.Text(r, 1, "the row's key", "row passed over");
    if (!key) continue;
    if (*key == "Name:") {
      if (auto v = cells.Text(r, 2, "SystemName")) s.SystemName = std::move(*v);
    } else if (HeaderMatches(*key, "Inputs")) {
      count(r, s.InputCount, "InputCount");
    } else if (HeaderMatches(*key, "Outputs")) {
      count(r, s.OutputCount, "OutputCount");
    } else if (HeaderMatches(*key, "Consoles")) {
      count(r, s.ConsoleCount, "ConsoleCount");
    } else {
      NoteKeyMeant(grid, r, *key, problems);
    }
  }
  return s;
}

std::string FirstSystemName(const SheetGrid& system, Problems& problems) {
  CellReader cells(system, problems);
  for (int r = 1; r <= system.rows(); ++r) {
    if (CellText(system, r, 1).value_or("") == "Name:") return cells.Text(r, 2, "SystemName").value_or("");
  }
  return {};
}

}  // namespace kvr
