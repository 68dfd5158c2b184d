// The switcher database's seven tables read back as the sheets that give
// them: "Sources", "Destinations", "Opto", "Relay", "Location",
// "Console Name" and "RC", one row per record, each cell what a conversion
// turns into the record's field (an index as its 1-based number, none as an
// empty cell, texts as texts).
#ifndef KVR_TABLES_TABLE_EXPORT_H_
#define KVR_TABLES_TABLE_EXPORT_H_

#include <algorithm>
#include <string>
#include <vector>

#include "base/problems.h"
#include "tables/switcher_database.h"
#include "workbook/workbook_writer.h"

namespace kvr {

// The records of one table that a conversion can reach: keyed 1, 2, 3, ...
// without a gap, each the first record of its key (a conversion writes the
// first of two that share a key, and none after a gap).
struct TableRows {
  std::string table;
  std::vector<std::string> fields;  // the fields a conversion writes that the table has
  std::vector<std::vector<FieldValue>> records;  // records[k]: the record keyed k + 1, one value per field
  bool readable = false;                         // the table could be read
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
