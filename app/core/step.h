// One step of a run: what fails inside it becomes a problem and the run goes
// on with the next step. What ends a whole phase or run passes through: a
// failed database (DatabaseFailure), a workbook past a reader's bounds
// (WorkbookLimitError), a stop asked for (RunInterrupted).
#ifndef KVR_APP_CORE_STEP_H_
#define KVR_APP_CORE_STEP_H_

#include <functional>
#include <string>

#include "base/problems.h"

namespace kvr {

void Step(Problems& problems, const std::string& what, const std::function<void()>& step);

}  // namespace kvr

#endif  // KVR_APP_CORE_STEP_H_
