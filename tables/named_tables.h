// The fixed-size tables without a count: locations ("Location" sheet,
// "LocationAlphas"), console names ("Console Name", "ConsoleAlphas") and
// remote-control sets ("RC", "OptoRelaySets"). Their scans run to the last
// row; a row past the table's last entry stores nothing (reported).
#ifndef KVR_TABLES_NAMED_TABLES_H_
#define KVR_TABLES_NAMED_TABLES_H_

#include <array>
#include <cstdint>
#include <string>

#include "workbook/sheet_grid.h"

namespace kvr {

class Problems;
class SwitcherDatabase;

struct LocationEntry {
  std::int16_t locationNumber = 0;
  std::string locationLabel;
  std::string locationNotes;
};
using LocationTable = std::array<LocationEntry, 527>;

struct ConsoleNameEntry {
  std::int16_t consoleNumber = 0;
  std::string consoleLabel;
  std::string consoleNotes;
};
using ConsoleNameTable = std::array<ConsoleNameEntry, 257>;

struct RcSetEntry {
  std::int16_t setNumber = 0;
  std::string setLabel;
  std::array<std::int16_t, 5> setOptos{};
  std::array<std::int16_t, 5> setRelays{};
  std::string setNotes;
};
using RcSetTable = std::array<RcSetEntry, 257>;

void ReadLocationSheet(const SheetGrid& grid, LocationTable& table, Problems& problems);
void ReadConsoleNameSheet(const SheetGrid& grid, ConsoleNameTable& table, Problems& problems);
// "Opto n" / "Relay n" headers name their slot by the character after the
// keyword and one separator (position 6 or 7): "Opto 3" feeds slot 3.
void ReadRemoteControlSheet(const SheetGrid& grid, RcSetTable& table, Problems& problems);

// Labels cut to 16 characters (locations, consoles) or 8 (sets); blank texts
// never overwrite; the ten opto and relay fields of a set are always written.
void WriteLocationAlphas(SwitcherDatabase& database, const LocationTable& table, Problems& problems);
void WriteConsoleAlphas(SwitcherDatabase& database, const ConsoleNameTable& table, Problems& problems);
void WriteOptoRelaySets(SwitcherDatabase& database, const RcSetTable& table, Problems& problems);

}  // namespace kvr

#endif  // KVR_TABLES_NAMED_TABLES_H_
