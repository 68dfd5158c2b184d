#include "xpoints/crosspoints.h"

#include <sstream>

#include "base/little_endian.h"
#include "base/problems.h"
#include "console/con_format.h"
#include "workbook/cell_convert.h"
#include "workbook/cell_reader.h"
#include "workbook/channel_row_scan.h"

namespace kvr {

std::vector<CrosspointRecord> ReadCrosspoints(const SheetGrid& grid, Problems& problems) {
  enum Keyword { kLevel, kSource, kDestination };
  // Every column counts here, the first one included.
  std::vector<int> columns = MatchHeaderColumns(grid, {"P-Level", "Source", "Destination"}, problems);
  if (grid.columns() >= 1) {
    const std::string h = CellText(grid, 1, 1).value_or("");
    columns[1] = HeaderMatches(h, "P-Level") ? kLevel : HeaderMatches(h, "Source") ? kSource
               : HeaderMatches(h, "Destination") ? kDestination : -1;
  }
  CellReader cells(grid, problems);
  std::vector<CrosspointRecord> records;
  constexpr std::size_t kMaxCrosspoints = 32767;  // the file's count is 16-bit
  for (int r = 2; r <= grid.rows(); ++r) {
    const auto first = cells.Text(r, 1, "crosspoint", "row skipped");
    if (!first || first->empty()) continue;
    if (records.size() == kMaxCrosspoints) {
      // A crosspoint past the last the file holds: said at the first one
      // left out, with how many are.
      int left_out = 0;
      for (int later = r; later <= grid.rows(); ++later) {
        const auto text = CellText(grid, later, 1);
        left_out += text && !text->empty() ? 1 : 0;
      }
      problems.Report(grid.At(r, 1),
                      "the crosspoint file holds at most 32767 crosspoints; this row and the " +
                          std::to_string(left_out - 1) + " crosspoint rows after it are left out",
                      ErrorCode::kOverflow);
      grid.MarkRead(r, 1, grid.rows(), grid.columns());  // said of them all above
      break;
    }
    CrosspointRecord rec;
    cells.SetSubject("crosspoint " + std::to_string(records.size() + 1));
    for (int c = 1; c <= grid.columns(); ++c) {
      switch (columns[static_cast<std::size_t>(c)]) {
        case kLevel:
          // levels above 1 are stored as none
          cells.NumberInto(r, c, rec.level, "level", [](std::int16_t n) -> std::int16_t { return n > 1 ? NoIndex : n; });
          break;
        case kSource: cells.IndexInto(r, c, rec.source, "source", "input"); break;
        case kDestination: cells.IndexInto(r, c, rec.destination, "destination", "output"); break;
        default: break;
      }
    }
    records.push_back(rec);
  }
  return records;
}

std::string EncodeCrosspointFile(const std::vector<CrosspointRecord>& records) {
  std::string out;
  out.reserve(2 + 6 * records.size());
  PutInt16(out, static_cast<std::int16_t>(records.size()));
  for (const auto& r : records) {
    PutInt16(out, r.level);
    PutInt16(out, r.source);
    PutInt16(out, r.destination);
  }
  return out;
}

Result<std::vector<CrosspointRecord>> DecodeCrosspointFile(std::string_view bytes) {
  if (bytes.size() < 2) {
    return Status::Error("a crosspoint file holds at least its 2-byte count; this one has " +
                         std::to_string(bytes.size()) + " bytes");
  }
  const std::int16_t count = GetInt16(bytes, 0);
  if (count < 0 || bytes.size() != 2 + 6 * static_cast<std::size_t>(count)) {
    return Status::Error("the count " + std::to_string(count) + " needs " +
                         std::to_string(2 + 6 * static_cast<long>(count)) + " bytes, but the file has " +
                         std::to_string(bytes.size()));
  }
  std::vector<CrosspointRecord> records(static_cast<std::size_t>(count));
  for (std::size_t k = 0; k < records.size(); ++k) {
    const std::size_t at = 2 + 6 * k;
    records[k] = {GetInt16(bytes, at), GetInt16(bytes, at + 2), GetInt16(bytes, at + 4)};
  }
  return records;
}

OutSheet CrosspointSheet(const std::vector<CrosspointRecord>& records) {
  OutSheet sheet("Crosspoints");
  sheet.SetText(1, 1, "P-Level");
  sheet.SetText(1, 2, "Source");
  sheet.SetText(1, 3, "Destination");
  int row = 2;
  for (const CrosspointRecord& r : records) {
    // The level leads the row, so the row always has a first cell.
    sheet.SetNumber(row, 1, r.level == NoIndex ? 2 : r.level);
    if (r.source != NoIndex) sheet.SetNumber(row, 2, r.source + 1.0);
    if (r.destination != NoIndex) sheet.SetNumber(row, 3, r.destination + 1.0);
    ++row;
  }
  return sheet;
}

Result<std::string> DescribeCrosspointFile(std::string_view bytes) {
  const auto records = DecodeCrosspointFile(bytes);
  if (!records.ok()) return records.status();
  std::ostringstream out;
  out << "# crosspoint file; " << records->size() << " crosspoints\n# " << kNoneLegend
      << "; crosspoints count from 1, sources and destinations are indices from 0\n"
      << "crosspoint\tlevel\tsource\tdestination\n";
  auto show = [](std::int16_t v) { return v == NoIndex ? std::string("-") : std::to_string(v); };
  for (std::size_t k = 0; k < records->size(); ++k) {
    const CrosspointRecord& r = (*records)[k];
    out << k + 1 << '\t' << show(r.level) << '\t' << show(r.source) << '\t' << show(r.destination) << '\n';
  }
  return out.str();
}

}  // namespace kvr
