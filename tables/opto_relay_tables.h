// The "Opto" and "Relay" sheets and their tables "OptoAlphas" and "RelayAlphas".
// Both tables are allocated with their channel tables (opto with the inputs,
// relay with the outputs); their scans run to the last row and ignore rows
// past the table instead of stopping at the count.
#ifndef KVR_TABLES_OPTO_RELAY_TABLES_H_
#define KVR_TABLES_OPTO_RELAY_TABLES_H_

#include <cstdint>
#include <string>
#include <vector>

#include "workbook/sheet_grid.h"

namespace kvr {

class Problems;
class SwitcherDatabase;

struct OptoRecord {
  std::int16_t ChanNum = 0;
  std::string Label;
  std::string Notes;
  std::int16_t Type = 0;
  std::int16_t Salvo = 0;
  std::int16_t Input = 0;
  std::int16_t Output = 0;
  std::int16_t Relay = 0;
};
using OptoTable = std::vector<OptoRecord>;  // entries 0 to InputCount

struct RelayRecord {
  std::int16_t ChanNum = 0;
  std::string Label;
  std::string Notes;
};
using RelayTable = std::vector<RelayRecord>;  // entries 0 to OutputCount

// Fill the already-allocated tables; rows past the last entry are ignored.
void ReadOpto(const SheetGrid& grid, std::int16_t input_count, OptoTable& table, Problems& problems);
void ReadRelay(const SheetGrid& grid, std::int16_t output_count, RelayTable& table, Problems& problems);

void WriteOptoAlphas(SwitcherDatabase& database, const OptoTable& table, std::int16_t input_count,
                     Problems& problems);
void WriteRelayAlphas(SwitcherDatabase& database, const RelayTable& table, std::int16_t output_count,
                      Problems& problems);

}  // namespace kvr

#endif  // KVR_TABLES_OPTO_RELAY_TABLES_H_
