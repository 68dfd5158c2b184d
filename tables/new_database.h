// Creating an empty switcher database: the seven tables with every field the
// conversion writes, in their declared types, and records keyed 1..N.
#ifndef KVR_TABLES_NEW_DATABASE_H_
#define KVR_TABLES_NEW_DATABASE_H_

#include <filesystem>
#include <string_view>
#include <utility>
#include <vector>

#include "base/status.h"

namespace kvr {

struct DatabaseSizes {
  int inputs = 64;     // InptAlphas and OptoAlphas records
  int outputs = 64;    // OutptAlphas and RelayAlphas records
  int consoles = 8;    // ConsoleAlphas records
  int locations = 32;  // LocationAlphas records
  int sets = 32;       // OptoRelaySets records
};

// One table of a new switcher database: its key field (SMALLINT, primary
// key), its other fields with their declared SQL types, and how many records.
struct TableDef {
  std::string_view name;
  std::string_view key;
  std::vector<std::pair<std::string_view, std::string_view>> fields;  // name, declared type
  int records;
};
// The seven tables as described in switcher_tables.h, sized by `sizes`.
std::vector<TableDef> SwitcherSchema(const DatabaseSizes& sizes);

// Sizes lie in 0..32767, or the reason they do not.
Status CheckTableSizes(const DatabaseSizes& sizes);

// Creates the database at `path`, or says why not; refuses a path where
// anything exists. Sizes must lie in 0..32767. A stop asked for meanwhile
// throws RunInterrupted, with nothing made.
Status CreateSwitcherDatabase(const std::filesystem::path& path, const DatabaseSizes& sizes);

}  // namespace kvr

#endif  // KVR_TABLES_NEW_DATABASE_H_
