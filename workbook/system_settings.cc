#include "workbook/system_settings.h"

#include "base/problems.h"
#include "workbook/cell_convert.h"
#include "workbook/cell_reader.h"

namespace kvr {

SystemSettings ReadSystemSettings(const SheetGrid& grid, Problems& problems) {
  SystemSettings s;
  CellReader cells(grid, problems);
  for (int r = 1; r <= grid.rows(); ++r) {
    const auto key = cells.Text(r, 1, "the row's key", "row passed over");
    if (!key) continue;
    if (*key == "Name:") {
      if (auto v = cells.Text(r, 2, "SystemName")) s.SystemName = std::move(*v);
    } else if (HeaderMatches(*key, "Inputs")) {
      if (auto v = cells.Number(r, 2, "InputCount")) s.InputCount = *v;
    } else if (HeaderMatches(*key, "Outputs")) {
      if (auto v = cells.Number(r, 2, "OutputCount")) s.OutputCount = *v;
    } else if (HeaderMatches(*key, "Consoles")) {
      if (auto v = cells.Number(r, 2, "ConsoleCount")) s.ConsoleCount = *v;
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
