// The seven tables of the switcher database, each described once: its name
// and key, the sheet that gives it, and per field the type it is stored as,
// the heading its column is read under and how its value stands in a cell.
// The sheet readers match headings by this description, export writes its
// sheets by it and new-database makes the tables from it.
#ifndef KVR_TABLES_SWITCHER_TABLES_H_
#define KVR_TABLES_SWITCHER_TABLES_H_

#include <array>
#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

namespace kvr {

class Problems;
class SheetGrid;

// How a field is stored: a 16-bit or an 8-bit integer, or a text of 8, 16
// or 255 characters.
enum class FieldType { kSmallInt, kTinyInt, kText8, kText16, kText255 };

// How a field's value stands in its cell: as text, as a number, or as an
// index given by its 1-based number (none by an empty cell).
enum class CellAs { kText, kNumber, kIndex };

struct FieldSpec {
  std::string_view name;
  FieldType type;
  // The keyword its column is read under (a heading that begins with it);
  // empty for a field a write rule sets, which no sheet gives.
  std::string_view heading = {};
  CellAs as = CellAs::kNumber;
  // What an index counts ("relay"), so that a report can say which entry
  // an index is: 0 is relay 1.
  std::string_view points_to = {};
  // A second keyword that fills the same field, matched before `heading`.
  std::string_view also = {};
};

// Which size of a new database gives a table its records.
enum class SizedBy { kInputs, kOutputs, kConsoles, kLocations, kSets };

struct TableSpec {
  std::string_view name;
  std::string_view key;
  std::string_view sheet;
  std::string_view number_heading;  // the sheet's column 1, the record's number
  std::string_view noun;            // what reports call one record: "input" (as "input 19")
  std::span<const FieldSpec> fields;  // sheet columns in the sheet's order, then fields a rule sets
  SizedBy sized_by;
  std::size_t label_chars = 8;  // the characters of "Label" a conversion writes
  bool label_hides = false;     // a label beginning with "{" hides the channel
};

namespace table_fields {

using enum FieldType;
using enum CellAs;

inline constexpr FieldSpec kInputs[] = {
    {"Label", kText8, "Chan Label", kText},        {"LocalLabel", kText8, "LocalLabel", kText},
    {"Linked", kSmallInt, "Linked"},                 {"Hidden", kSmallInt, "Hidden"},
    {"Notes", kText255, "Notes", kText},             {"Location", kSmallInt, "Location #", kIndex, "location"},
    {"Type", kSmallInt, "Source Type"},              {"AssocOutput", kSmallInt, "IFB/MM", kIndex, "output"},
    {"MMType", kSmallInt, "MM Type"},                {"IFB", kSmallInt, "IFB"},
    {"Timer", kSmallInt, "Timer Restart"},           {"GPI", kSmallInt, "GPI"},
    {"OptoOn", kSmallInt, "OptoOn", kIndex, "opto"},         {"OptoOff", kSmallInt, "OptoOff", kIndex, "opto"},
    {"OptoCough", kSmallInt, "OptoCough", kIndex, "opto"},   {"CueOn", kSmallInt, "Cue", kIndex, "opto"},
    {"CueOff", kSmallInt, "Opto Off LED", kIndex, "opto"},   {"GPO", kSmallInt, "GPO"},
    {"RelayOn", kSmallInt, "RelayOn", kIndex, "relay"},       {"RelayOff", kSmallInt, "RelayOff", kIndex, "relay"},
    {"MixMinus", kSmallInt},                         {"Mute", kSmallInt}};

inline constexpr FieldSpec kOutputs[] = {
    {"Label", kText8, "Chan Label", kText},
    {"LocalLabel", kText8, "Local Label", kText},
    {"Linked", kSmallInt, "Linked"},
    {"Hidden", kSmallInt, "Hidden"},
    {"Notes", kText255, "Notes", kText},
    {"Location", kSmallInt, "Location #", kIndex, "location"},
    {"Type", kSmallInt, "Bus Type #"},
    {"AssocOutput", kSmallInt, "AssocOutput", kIndex, "output", "Associated Output"},
    {"AssocRelay", kSmallInt, "AssocRelay", kIndex, "relay"},
    {"RelayControl", kTinyInt, "RelayControl"},
    {"RelayType", kTinyInt, "RelayType"},
    {"Switch", kSmallInt, "Switch", kNumber, {}, "Utility-Switch"},
    {"Fader", kSmallInt, "Fader", kNumber, {}, "Utility-Fader"},
    {"Mute", kSmallInt, "Mute"},
    {"AllowMM", kSmallInt},
    {"AssocInput", kSmallInt},
    {"AuxId", kSmallInt}};

inline constexpr FieldSpec kOptos[] = {
    {"Label", kText8, "Name", kText},  {"Notes", kText255, "Notes", kText}, {"Type", kSmallInt, "Type"},
    {"Salvo", kSmallInt, "Salvo", kIndex, "salvo"}, {"Input", kSmallInt, "Input", kIndex, "input"}, {"Output", kSmallInt, "Output", kIndex, "output"},
    {"Relay", kSmallInt, "Relay", kIndex, "relay"}};

inline constexpr FieldSpec kRelays[] = {{"Label", kText8, "Name", kText}, {"Notes", kText255, "Notes", kText}};

inline constexpr FieldSpec kLocations[] = {{"Label", kText16, "Location Name", kText},
                                           {"Notes", kText255, "Notes", kText}};

inline constexpr FieldSpec kConsoles[] = {{"Label", kText16, "Console Name", kText},
                                          {"Notes", kText255, "Notes", kText}};

// A set's slot is told by the character after "Opto" or "Relay" and one
// blank, so the sheet's headings are "Opto 1" to "Relay 5".
inline constexpr FieldSpec kSets[] = {
    {"Label", kText8, "Set Name", kText}, {"Opto1", kSmallInt, "Opto 1", kIndex, "opto"},
    {"Relay1", kSmallInt, "Relay 1", kIndex, "relay"}, {"Opto2", kSmallInt, "Opto 2", kIndex, "opto"},
    {"Relay2", kSmallInt, "Relay 2", kIndex, "relay"}, {"Opto3", kSmallInt, "Opto 3", kIndex, "opto"},
    {"Relay3", kSmallInt, "Relay 3", kIndex, "relay"}, {"Opto4", kSmallInt, "Opto 4", kIndex, "opto"},
    {"Relay4", kSmallInt, "Relay 4", kIndex, "relay"}, {"Opto5", kSmallInt, "Opto 5", kIndex, "opto"},
    {"Relay5", kSmallInt, "Relay 5", kIndex, "relay"}, {"Notes", kText255, "Notes", kText}};

}  // namespace table_fields

inline constexpr TableSpec kInptAlphas{"InptAlphas",       "Chan Num", "Sources", "Chan Num", "input",
                                       table_fields::kInputs, SizedBy::kInputs, 8, true};
inline constexpr TableSpec kOutptAlphas{"OutptAlphas",       "Chan Num", "Destinations", "Chan Num", "output",
                                        table_fields::kOutputs, SizedBy::kOutputs, 8, true};
inline constexpr TableSpec kOptoAlphas{"OptoAlphas", "Chan Num", "Opto", "Chan Num", "opto", table_fields::kOptos,
                                       SizedBy::kInputs};
inline constexpr TableSpec kRelayAlphas{"RelayAlphas", "Chan Num", "Relay", "Chan Num", "relay", table_fields::kRelays,
                                        SizedBy::kOutputs};
inline constexpr TableSpec kConsoleAlphas{"ConsoleAlphas", "Chan Num", "Console Name", "Console", "console",
                                          table_fields::kConsoles, SizedBy::kConsoles, 16};
inline constexpr TableSpec kLocationAlphas{"LocationAlphas", "Chan Num", "Location", "Location", "location",
                                           table_fields::kLocations, SizedBy::kLocations, 16};
inline constexpr TableSpec kOptoRelaySets{"OptoRelaySets", "SetNum", "RC", "Set", "set", table_fields::kSets,
                                          SizedBy::kSets};

// The seven, in the order a conversion writes them and new-database makes
// them.
inline constexpr std::array<const TableSpec*, 7> kTableSpecs = {
    &kInptAlphas, &kOutptAlphas, &kOptoAlphas, &kRelayAlphas, &kConsoleAlphas, &kLocationAlphas, &kOptoRelaySets};

// Their names, in that order.
inline constexpr std::array<std::string_view, 7> kSwitcherTables = [] {
  std::array<std::string_view, 7> names{};
  for (std::size_t i = 0; i < names.size(); ++i) names[i] = kTableSpecs[i]->name;
  return names;
}();

// The index of field `name` in `table`; a name the table lacks does not
// compile where the index is a constant (a switch's case).
constexpr int FieldIndex(const TableSpec& table, std::string_view name) {
  for (std::size_t i = 0; i < table.fields.size(); ++i) {
    if (table.fields[i].name == name) return static_cast<int>(i);
  }
  throw "the table has no such field";
}

// What index field `name` of `table` counts ("relay").
constexpr std::string_view PointsTo(const TableSpec& table, std::string_view name) {
  return table.fields[static_cast<std::size_t>(FieldIndex(table, name))].points_to;
}

// For each column c of the sheet (1-based, entry 0 unused) the index into
// table.fields of the field its heading names, or -1: the headings are
// matched against each field's keywords (its `also` before its `heading`)
// by MatchHeaderColumns, with its notes on headings.
std::vector<int> FieldColumns(const SheetGrid& grid, const TableSpec& table, Problems& problems);

}  // namespace kvr

#endif  // KVR_TABLES_SWITCHER_TABLES_H_
