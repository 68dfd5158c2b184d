#include "app/core/step.h"

#include <new>

#include "tables/switcher_database.h"
#include "workbook/workbook_error.h"

namespace kvr {

void Step(Problems& problems, const std::string& what, const std::function<void()>& step) {
  try {
    step();
  } catch (const DatabaseFailure&) {
    throw;  // ends the whole database phase
  } catch (const WorkbookLimitError&) {
    throw;  // ends the run before anything is written
  } catch (const std::bad_alloc&) {
    problems.Report(what, "out of memory; step skipped", ErrorCode::kApplicationDefined);
  } catch (const std::exception& e) {
    problems.Report(what, std::string(e.what()) + "; step skipped", ErrorCode::kApplicationDefined);
  }
}

}  // namespace kvr
