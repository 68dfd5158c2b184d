// What the four channel tables share ("Sources"/"InptAlphas",
// "Destinations"/"OutptAlphas", "Opto"/"OptoAlphas", "Relay"/"RelayAlphas"):
// the reading loop (ChannelRowScan, each qualifying row made record k with
// ChanNum k + 1, each column whose header matched a keyword handed to `fill`,
// left to right) and the counted merge into the database table keyed "Chan Num".
#ifndef KVR_TABLES_CHANNEL_SHEET_H_
#define KVR_TABLES_CHANNEL_SHEET_H_

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <string_view>
#include <vector>

#include "tables/label_table_writer.h"
#include "tables/switcher_tables.h"
#include "workbook/cell_reader.h"
#include "workbook/channel_row_scan.h"

namespace kvr {

// How a channel sheet is read: counted by `count` from the System value
// `count_key` ("Inputs"), one record called a `noun` in reports ("input").
struct ChannelSheetRules {
  ScanLimit limit;
  int count;
  std::string_view count_key;
  std::string_view noun;
};

// `fill(record, cells, row, column, field)` stores one cell; `field` is the
// index into spec.fields of the field the column's heading names. Rows past
// the end of `table` fill nothing and are reported.
// What a record's write rules make of its fields, for the reports of a row:
// `rules(record, field)` gives the value finally written and why, or nullopt
// where the value read stands.
struct NoRules {
  template <typename Record>
  std::optional<std::pair<std::string, std::string>> operator()(const Record&, std::string_view) const {
    return std::nullopt;
  }
};

template <typename Record, typename Fill, typename Rules = NoRules>
void ReadChannelSheet(const SheetGrid& grid, const ChannelSheetRules& counted, const TableSpec& spec,
                      std::vector<Record>& table, Problems& problems, Fill fill, Rules rules = {}) {
  const std::vector<int> columns = FieldColumns(grid, spec, problems);
  CellReader cells(grid, problems);
  RowsBeyondTable beyond(grid, table.size(), CountCause(counted.count_key, counted.count));
  ChannelRowScan(grid, counted.limit, counted.count, problems, [&](int k, int r) {
    if (static_cast<std::size_t>(k) >= table.size()) {
      beyond.Add(r, k);
      return;
    }
    cells.SetSubject(std::string(counted.noun) + " " + std::to_string(k + 1));
    Record& record = table[static_cast<std::size_t>(k)];
    record.ChanNum = static_cast<std::int16_t>(k + 1);
    for (int c = 2; c <= grid.columns(); ++c) {
      const int field = columns[static_cast<std::size_t>(c)];
      if (field >= 0) fill(record, cells, r, c, field);
    }
    cells.EndRow([&](std::string_view field) { return rules(record, field); });
  }, counted.count_key);
  beyond.Report(problems);
}

// An index cell of a channel sheet's row, stored into its field of `spec`
// with what that field counts, so that a report says which entry it is.
struct IndexCell {
  CellReader& cells;
  int row, column;
  const TableSpec& spec;
  void Into(std::int16_t& value, std::string_view field) const {
    cells.IndexInto(row, column, value, field, PointsTo(spec, field));
  }
};

// LabelTableWriter over `table` with count `count`; `assign(record, editor)`
// performs one record's assignments in order. `after` runs on the same
// recordset once the merge is done.
template <typename Table, typename Assign>
void WriteChannelTable(SwitcherDatabase& database, const TableSpec& spec, Table& table, int count,
                       Problems& problems, Assign assign, const std::function<void(Recordset&)>& after = nullptr) {
  LabelTableWriter(
      database, {spec.name, spec.key, count, static_cast<int>(table.size()), &spec},
      [&](int i) { return table[static_cast<std::size_t>(i)].ChanNum; },
      [&](int i, RecordEditor& rec) { assign(table[static_cast<std::size_t>(i)], rec); }, problems, after);
}

}  // namespace kvr

#endif  // KVR_TABLES_CHANNEL_SHEET_H_
