// The switcher database a plant needs: as many records in each table as the
// workbook addresses, so that a database made for it finds every record.
#ifndef KVR_APP_CORE_PLANT_SIZE_H_
#define KVR_APP_CORE_PLANT_SIZE_H_

#include <filesystem>

#include "base/status.h"
#include "tables/new_database.h"

#include "tables/input_table.h"
#include "tables/named_tables.h"
#include "tables/output_table.h"
#include "workbook/system_settings.h"

namespace kvr {

// The sizes the workbook at `path` needs: inputs and outputs the larger of
// its "System" counts and the highest channel numbers on "Sources" and
// "Destinations", consoles the larger of "Consoles" and the highest number
// on "Console Name", locations and sets the highest numbers on "Location"
// and "RC". Fails when the workbook cannot be opened.
Result<DatabaseSizes> DatabaseSizesFor(const std::filesystem::path& path);

// The same sizes from tables read already.
DatabaseSizes DatabaseSizesFor(const SystemSettings& system, const InputTable& inputs, const OutputTable& outputs,
                               const LocationTable& locations, const ConsoleNameTable& consoles, const RcSetTable& sets);

}  // namespace kvr

#endif  // KVR_APP_CORE_PLANT_SIZE_H_
