#include "app/core/plant_size.h"

#include <algorithm>
#include <memory>

#include "base/problems.h"
#include "tables/input_table.h"
#include "tables/named_tables.h"
#include "tables/output_table.h"
#include "workbook/system_settings.h"
#include "workbook/workbook.h"

namespace kvr {
namespace {

constexpr int kMostRecords = 32767;

int Fitted(int n) { return std::clamp(n, 0, kMostRecords); }

template <typename Table, typename Number>
int HighestNumber(const Table& table, Number number) {
  int highest = 0;
  for (const auto& entry : table) highest = std::max<int>(highest, entry.*number);
  return highest;
}

}  // namespace

Result<DatabaseSizes> DatabaseSizesFor(const std::filesystem::path& path) {
  struct Sheets {
    InputTable inputs;
    OutputTable outputs;
    LocationTable locations{};
    ConsoleNameTable consoles{};
    RcSetTable sets{};
  };
  const auto sheets = std::make_unique<Sheets>();
  Problems ignored;  // the conversion reports what is wrong in the sheets
  SystemSettings system;
  try {
    auto opened = OpenWorkbook(path);
    if (!opened.ok()) return opened.status();
    Workbook& workbook = **opened;
    system = ReadSystemSettings(OpenSheetGrid(workbook, "System", ignored), ignored);
    ReadSources(OpenSheetGrid(workbook, "Sources", ignored), system.InputCount, sheets->inputs, ignored);
    ReadDestinations(OpenSheetGrid(workbook, "Destinations", ignored), system.OutputCount, sheets->outputs, ignored);
    ReadLocationSheet(OpenSheetGrid(workbook, "Location", ignored), sheets->locations, ignored);
    ReadConsoleNameSheet(OpenSheetGrid(workbook, "Console Name", ignored), sheets->consoles, ignored);
    ReadRemoteControlSheet(OpenSheetGrid(workbook, "RC", ignored), sheets->sets, ignored);
  } catch (const std::exception& e) {
    return Status::Error(e.what());
  }
  return DatabaseSizesFor(system, sheets->inputs, sheets->outputs, sheets->locations, sheets->consoles, sheets->sets);
}

DatabaseSizes DatabaseSizesFor(const SystemSettings& system, const InputTable& inputs, const OutputTable& outputs,
                               const LocationTable& locations, const ConsoleNameTable& consoles, const RcSetTable& sets) {
  DatabaseSizes sizes;
  // A channel sheet is read one row past its count: a plant may number one
  // channel more than "Inputs" or "Outputs" says.
  sizes.inputs = Fitted(std::max<int>(system.InputCount, HighestNumber(inputs, &InputRecord::ChanNum)));
  sizes.outputs = Fitted(std::max<int>(system.OutputCount, HighestNumber(outputs, &OutputRecord::ChanNum)));
  sizes.consoles = Fitted(std::max<int>(system.ConsoleCount, HighestNumber(consoles, &ConsoleNameEntry::consoleNumber)));
  sizes.locations = Fitted(HighestNumber(locations, &LocationEntry::locationNumber));
  sizes.sets = Fitted(HighestNumber(sets, &RcSetEntry::setNumber));
  return sizes;
}

}  // namespace kvr
