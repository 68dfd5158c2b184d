#include "console/console_model.h"

namespace kvr {

void ResetConsoleAssignments(ConsoleRecord& console) {
  for (ModuleRecord& m : console.modules) {
    m.mixMinusOn = NoIndex;
    m.mixMinusOff = NoIndex;
    m.assignmentCount = 0;
    for (FunctionAssignment& a : m.assignments) a = {NoIndex, NoIndex};
  }
}

}  // namespace kvr
