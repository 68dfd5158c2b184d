// The "Sources" sheet, the input table and the "InptAlphas" step.
#ifndef KVR_TABLES_INPUT_TABLE_H_
#define KVR_TABLES_INPUT_TABLE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "workbook/sheet_grid.h"

namespace kvr {

class Problems;
class SwitcherDatabase;

struct InputRecord {
  std::int16_t ChanNum = 0;
  std::int16_t Linked = 0;
  std::int16_t Hidden = 0;
  std::string Label;
  std::string Notes;
  std::int16_t Location = 0;
  std::string LocalLabel;
  std::int16_t Type = 0;
  std::int16_t IFB = 0;
  std::int16_t Timer = 0;
  std::int16_t MixMinus = 0;
  std::int16_t MMType = 0;
  std::int16_t Mute = 0;
  std::int16_t GPI = 0;
  std::int16_t GPO = 0;
  std::int16_t AssocOutput = 0;
  std::int16_t RelayOn = 0;
  std::int16_t RelayOff = 0;
  std::int16_t OptoOn = 0;
  std::int16_t OptoOff = 0;
  std::int16_t OptoCough = 0;
  std::int16_t CueOn = 0;
  std::int16_t CueOff = 0;
};

// Entries 0 to InputCount; entry i is input channel i + 1.
using InputTable = std::vector<InputRecord>;

// Allocates `table` afresh with input_count + 1 cleared entries (none when
// input_count is negative) and fills it from the "Sources" grid: rows numbered
// 1, 2, 3... in column 1, columns chosen by their row-1 headers, the scan
// stopping after entry input_count.
void ReadSources(const SheetGrid& grid, std::int16_t input_count, InputTable& table, Problems& problems);

// The "InptAlphas" step: merges `table` (count input_count) into the records.
// Labels are cut to 8 characters and never overwritten by blank text; a
// blank local label takes the record's label; type 1 sets Mute, type 2
// MixMinus; a label beginning "{" sets Hidden. These derived fields are
// written back into `table` as well (the entries hold what was written), so
// the table is taken by reference and must not be shared with a reader.
void WriteInptAlphas(SwitcherDatabase& database, InputTable& table, std::int16_t input_count, Problems& problems);

}  // namespace kvr

#endif  // KVR_TABLES_INPUT_TABLE_H_
