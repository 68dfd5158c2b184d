#include "demo/demo_model.h"

#include <cctype>
#include <cmath>

#include "base/problems.h"
#include "base/round16.h"
#include "base/utf8.h"
#include "workbook/cell_convert.h"
#include "workbook/cell_reader.h"

namespace kvr {
namespace {

std::optional<std::int16_t> NumberOf(std::string_view text) { return RoundToInt16(Val(text)); }

// The first number of a range cell ("17-32" gives 17); a cell without "-" is
// read whole.
std::optional<std::int16_t> RangeStart(std::string_view cell) {
  return NumberOf(cell.substr(0, cell.find('-')));
}

}  // namespace

std::string ModuleTypeCode(std::string_view cell) {
  std::string first(Utf8Prefix(cell, 3));
  for (auto& c : first) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  static const std::pair<std::string_view, std::string_view> kTypes[] = {
      {"PLN", "PLN16"}, {"PDN", "PDN16"}, {"PLT", "PLT16"}, {"PDT", "PDT16"}, {"PRY", "PRY16"},
      {"HBX", "HBX16E"}, {"NGV", "NGV32E"}, {"TBF", "TBF"}, {"MSJ", "MSJ512"}};
  for (const auto& [key, code] : kTypes) {
    if (first == key) return std::string(code);
  }
  return {};
}

namespace {

// The row-1 header of each column from 2 on ("" where unreadable, reported).
std::vector<std::string> RowOneHeaders(const SheetGrid& grid, CellReader& cells) {
  std::vector<std::string> headers(static_cast<std::size_t>(grid.columns()) + 1);
  for (int c = 2; c <= grid.columns(); ++c) {
    headers[static_cast<std::size_t>(c)] = cells.Text(1, c, "header", "column ignored").value_or("");
  }
  return headers;
}

}  // namespace

std::int16_t ReadFrameSheet(const SheetGrid& grid, FrameTable& frames, ConsoleTable& consoles, Problems& problems) {
  CellReader cells(grid, problems);
  const std::vector<std::string> headers = RowOneHeaders(grid, cells);
  std::int16_t frame = 1;
  for (int r = 1; r <= grid.rows(); ++r) {
    const std::string col2 = CellText(grid, r, 2).value_or("");
    if (!col2.empty() && HeaderMatches(col2, "32QX")) {
      const std::string_view rest = std::string_view(col2).substr(Utf8Prefix(col2, 11).size());
      frame = NumberOf(Utf8Prefix(rest, 1)).value_or(0);
      if (frame > kFrames) break;
    }
    const auto col1 = cells.Text(r, 1, "slot number", "row passed over");
    if (!col1 || col1->empty() || frame <= 0) continue;
    const auto slot = cells.Number(r, 1, "slot number", "row passed over");
    if (!slot) continue;
    const bool slot_ok = *slot >= 1 && *slot <= kSlotsPerFrame;
    if (!slot_ok && r > 1) {
      problems.Report(grid.At(r, 1), "slot " + std::to_string(*slot) +
                                              " lies outside 1 to " + std::to_string(kSlotsPerFrame) +
                                              "; the row's module and channels not stored",
                      ErrorCode::kSubscriptOutOfRange);
    }
    SlotRecord* s = slot_ok ? &frames[static_cast<std::size_t>(frame - 1)][static_cast<std::size_t>(*slot - 1)] : nullptr;
    for (int c = 2; c <= grid.columns(); ++c) {
      const std::string& h = headers[static_cast<std::size_t>(c)];
      const auto v = cells.Text(r, c, h);
      if (!v) continue;
      auto first = [&](std::int16_t SlotRecord::*field, std::string_view range_key, std::string_view first_key) {
        if (s == nullptr) return;
        std::optional<std::int16_t> n;
        if (HeaderMatches(h, range_key)) n = v->empty() ? std::optional<std::int16_t>(0) : RangeStart(*v);
        else if (h == first_key) n = v->empty() ? std::optional<std::int16_t>(0) : CellNumber(grid, r, c);
        else return;
        if (n) s->*field = *n;
        else problems.Report(grid.At(r, c), *v + " does not fit a 16-bit number; \"" + h + "\" left unchanged",
                             ErrorCode::kOverflow);
      };
      if (HeaderMatches(h, "Module") && s != nullptr) s->moduleType = ModuleTypeCode(*v);
      first(&SlotRecord::firstInput, "Input", "First Input");
      first(&SlotRecord::firstOutput, "Output", "First Output");
      first(&SlotRecord::firstOpto, "Opto", "First Opto");
      first(&SlotRecord::firstRelay, "Relay", "First Relay");
      if (HeaderMatches(h, "Console") && !v->empty() && r > 1) {
        const auto n = cells.Number(r, c, "console number");
        if (!n) continue;
        if (*n < 1 || *n > static_cast<int>(kConsoles)) {
          problems.Report(grid.At(r, c),
                          "console " + std::to_string(*n) + " lies outside 1 to " + std::to_string(kConsoles) +
                              "; not placed",
                          ErrorCode::kSubscriptOutOfRange);
          continue;
        }
        ConsoleRecord& console = consoles[static_cast<std::size_t>(*n - 1)];
        console.frameNumber = frame;
        console.slotNumber = *slot;
      }
    }
  }
  return frame;
}

std::string ConsoleSheetName(const std::vector<std::string>& sheet_names, int n) {
  const std::string numbered = "Console #" + std::to_string(n);
  for (const auto& name : sheet_names) {
    if (name == numbered) return name;
  }
  std::string lettered = "Console ";
  AppendUtf8(lettered, static_cast<char32_t>(64 + n));
  for (const auto& name : sheet_names) {
    if (name == lettered) return name;
  }
  return {};
}

namespace {

// The row whose first cell reads "Device ID:"; 0 where none does.
int DeviceRow(const SheetGrid& grid) {
  for (int r = 1; r <= grid.rows(); ++r) {
    if (CellText(grid, r, 1).value_or("") == "Device ID:") return r;
  }
  return 0;
}

// True where the row under "Device ID:" is labelled as the templates (or
// not at all).
bool LabelsTemplates(const std::string& label) {
  std::string folded;
  for (const char ch : label) {
    if (ch != ' ') folded += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  }
  return folded.empty() || folded.find("templ") != std::string::npos;
}

// What the template row `row`, labelled `label` as a row of another kind,
// said cell by cell (`per_cell`), said once: its failures as they are, one
// notice as it is, more as one notice for the range.
void SayTemplateRowOnce(const SheetGrid& grid, int row, int first_column, int last_column, const std::string& label,
                        const Problems& per_cell, Problems& problems) {
  for (const Problem& p : per_cell.list()) problems.Report(p);  // a failure is its cell's own
  if (per_cell.notices().size() < 2) {  // one cell: its own notice says it best
    for (const Notice& n : per_cell.notices()) problems.Note(n.where, n.message, n.tag);
    return;
  }
  problems.Note(Where::Sheet(grid.sheet_name(), ColumnLetters(first_column) + std::to_string(row) + ":" +
                                                    ColumnLetters(last_column) + std::to_string(row)),
                "the row under \"Device ID:\" is read as the modules' template numbers, but it is labelled \"" + label +
                    "\": " + std::to_string(per_cell.notices().size()) +
                    " of its module cells are not whole numbers and give their module's template as they read (a "
                    "text as 0); put the template numbers in the row right under \"Device ID:\"",
                "template-row-labelled");
}

}  // namespace

void ReadDemoConsoleSheet(const SheetGrid& grid, int n, ConsoleTable& consoles, Problems& problems) {
  if (n < 1 || static_cast<std::size_t>(n) > consoles.size()) {
    problems.Report(Where::Sheet(grid.sheet_name()),
                    "console " + std::to_string(n) + " is past the " + std::to_string(consoles.size()) +
                        " the table holds; not read",
                    ErrorCode::kSubscriptOutOfRange);
    return;
  }
  ConsoleRecord& console = consoles[static_cast<std::size_t>(n - 1)];
  CellReader cells(grid, problems, CellReader::Headings::kModules);
  console.consoleIndex = static_cast<std::int16_t>(n - 1);
  cells.TextInto(1, 1, console.consoleName, "the console name");
  // Column 1 of row 1 holds the console's name, so the module numbers are
  // taken from column 2 on.
  std::int16_t count = 1;
  for (int c = 2; c <= grid.columns(); ++c) {
    if (auto v = cells.Number(1, c, "the module count")) count = std::max(count, *v);
  }
  console.moduleCount = count;
  const int device_row = DeviceRow(grid);
  // The row under "Device ID:" gives the templates, whatever its label.
  // One labelled as a row of another kind (an MFD row of marks, an
  // assignment number) is said once for the sheet, with how many of its
  // cells are no numbers, instead of a notice per cell.
  const std::string template_label = device_row != 0 ? CellText(grid, device_row + 1, 1).value_or("") : "";
  const bool template_row_of_its_own = LabelsTemplates(template_label);
  Problems per_cell;
  CellReader template_cells(grid, template_row_of_its_own ? problems : per_cell, CellReader::Headings::kModules);
  int first_column = 0, last_column = 0;
  for (int c = 4; c <= grid.columns(); ++c) {
    const auto text = cells.Text(1, c, "module number", "column ignored");
    if (!text) continue;
    const auto m = RoundToInt16(Val(*text) - 1);
    if (!m || *m < 0 || *m > 60) continue;
    if (*m >= static_cast<int>(kModules)) {
      problems.Report(grid.At(1, c), "module " + std::to_string(*m + 1) +
                                              " is past the " + std::to_string(kModules) +
                                              " a console holds; column ignored",
                      ErrorCode::kSubscriptOutOfRange);
      continue;
    }
    ModuleRecord& module = console.modules[static_cast<std::size_t>(*m)];
    cells.SetSubject("module " + std::to_string(*m + 1));
    cells.TextInto(2, c, module.moduleTypeText, "Type");
    if (device_row != 0) {
      cells.NumberInto(device_row, c, module.deviceId, "ID");
      template_cells.SetSubject("module " + std::to_string(*m + 1));
      template_cells.NumberInto(device_row + 1, c, module.templateId, "Template");
      if (first_column == 0) first_column = c;
      last_column = c;
    }
  }
  if (!template_row_of_its_own) {
    SayTemplateRowOnce(grid, device_row + 1, first_column, last_column, template_label, per_cell, problems);
  }
}

}  // namespace kvr
