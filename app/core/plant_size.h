// The switcher database a plant needs: as many records in each table as the
// workbook addresses, so that a database made for it finds every record.
#ifndef KVR_APP_CORE_PLANT_SIZE_H_
#define KVR_APP_CORE_PLANT_SIZE_H_

#include <filesystem>

#include "base/status.h"
#include "tables/new_database.h"

namespace kvr {

// The sizes the workbook at `path` needs: inputs and outputs the larger of
// its "System" counts and the highest channel numbers on "Sources" and
// "Destinations", consoles the larger of "Consoles" and the highest number
// on "Console Name", locations and sets the highest numbers on "Location"
// and "RC". Fails when the workbook cannot be opened.
Result<DatabaseSizes> DatabaseSizesFor(const std::filesystem::path& path);

}  // namespace kvr

#endif  // KVR_APP_CORE_PLANT_SIZE_H_
