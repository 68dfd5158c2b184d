// The switcher database's seven tables read back as the sheets that give
// them: "Sources", "Destinations", "Opto", "Relay", "Location",
// "Console Name" and "RC", one row per record, each cell what a conversion
// turns into the record's field (an index as its 1-based number, none as an
// empty cell, texts as texts).
#ifndef KVR_TABLES_TABLE_EXPORT_H_
#define KVR_TABLES_TABLE_EXPORT_H_

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "base/problems.h"
#include "tables/switcher_database.h"
#include "workbook/workbook_writer.h"

namespace kvr {

// The records of one table that a conversion can reach: keyed 1, 2, 3, ...
// without a gap, each the first record of its key (a conversion writes the
// first of two that share a key, and none after a gap).
// The largest plant's tables hold over a million values: each is kept in
// 16 bytes, its text in one buffer of the table's.
class TableRows {
 public:
  std::string table;
  std::vector<std::string> fields;  // the fields a conversion writes that the table has
  bool readable = false;            // the table could be read

  // How many records: the record keyed k + 1 is record k.
  std::size_t size() const { return fields.empty() ? records_ : slots_.size() / fields.size(); }
  // Field `field` (an index into `fields`) of record `record`.
  FieldValue At(std::size_t record, std::size_t field) const;
  // Adds the next record, one value per field.
  void Append(const std::vector<FieldValue>& values);
  void Clear();

 private:
  struct Slot {
    std::int64_t number = 0;
    std::uint32_t text_at = 0;
    std::uint32_t length = kNull;  // of the text; kNull or kNumber when there is none
  };
  static constexpr std::uint32_t kNull = 0xFFFFFFFF;
  static constexpr std::uint32_t kNumber = 0xFFFFFFFE;
  std::vector<Slot> slots_;  // record by record
  std::string texts_;
  std::size_t records_ = 0;  // counted apart for a table whose sheet has no field
};

struct PlantTables {
  TableRows inputs, outputs, optos, relays, consoles, locations, sets;
};

// Reads the seven tables; a table that cannot be read is a problem naming
// it, and gives no sheet.
PlantTables ReadPlantTables(SwitcherDatabase& db, Problems& problems);

// How many rows each channel sheet gives (its table's first records): the
// System counts follow from them, "Inputs" the longer of "Sources" and
// "Opto", "Outputs" the longer of "Destinations" and "Relay", the number of
// channels as an engineer writes it (a conversion reads a count as the last
// entry numbered from 0, so the one entry past the sheets is empty and
// writes nothing). A sheet shorter than its count stops a conversion's
// writing of its table there, as a gap in its numbers does.
struct PlantRows {
  std::size_t inputs = 0, outputs = 0, optos = 0, relays = 0;
  int InputCount() const { return static_cast<int>(std::max(inputs, optos)); }
  int OutputCount() const { return static_cast<int>(std::max(outputs, relays)); }
};

// Whether record `record` (0 first) holds nothing a sheet shows: every
// field an empty text, Null or 0, as a table sized ahead of its plant holds.
bool HoldsNothing(const TableRows& rows, std::size_t record);

// Every reachable record of each table.
PlantRows FullRows(const PlantTables& tables);

// The sheets of the tables that could be read, with `rows` rows on the
// channel sheets. A label that begins with "{" on a channel that is not
// hidden is left out (a conversion would hide the channel), so that the
// database's label is kept; each such label is noticed.
std::vector<OutSheet> TableSheets(const PlantTables& tables, const PlantRows& rows, Problems& problems);

}  // namespace kvr

#endif  // KVR_TABLES_TABLE_EXPORT_H_
