// The "Destinations" sheet, the output table and the "OutptAlphas" step.
#ifndef KVR_TABLES_OUTPUT_TABLE_H_
#define KVR_TABLES_OUTPUT_TABLE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "base/index.h"
#include "workbook/sheet_grid.h"

namespace kvr {

class Problems;
class SwitcherDatabase;

struct OutputRecord {
  std::int16_t ChanNum = 0;
  std::int16_t Linked = 0;
  std::int16_t Hidden = 0;
  std::string Label;
  std::string Notes;
  std::int16_t Location = 0;
  std::string LocalLabel;
  std::int16_t Type = 0;
  std::int16_t Mute = 0;
  std::int16_t Fader = 0;
  std::int16_t Switch = 0;
  std::int16_t AssocOutput = NoIndex;
  std::int16_t AssocRelay = 0;
  std::uint8_t RelayControl = 0;
  std::uint8_t RelayType = 0;
};

// Entries 0 to OutputCount; entry i is output channel i + 1.
using OutputTable = std::vector<OutputRecord>;

// Allocates `table` afresh (output_count + 1 entries, AssocOutput = NoIndex)
// and fills it from the "Destinations" grid, stopping after entry output_count.
void ReadDestinations(const SheetGrid& grid, std::int16_t output_count, OutputTable& table, Problems& problems);

// The "OutptAlphas" step: the merge with its bus-type forcing, then the aux
// numbering of every record of the table (types 3, 4 and 6 count 1, 2, 3...,
// the others get NoIndex). The forced Mute, Switch, Fader and the Hidden of
// a "{" label are written back into `table` as well (the entries hold what
// was written), so the table is taken by reference and must not be shared
// with a reader.
void WriteOutptAlphas(SwitcherDatabase& database, OutputTable& table, std::int16_t output_count, Problems& problems);

}  // namespace kvr

#endif  // KVR_TABLES_OUTPUT_TABLE_H_
