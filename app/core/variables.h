// The program-wide tables (several megabytes: allocate on the heap) that the runs fill and the writers read. One
// instance lives as long as the front end; every run clears it first, so each
// run's output depends on its own workbook alone.
#ifndef KVR_APP_CORE_VARIABLES_H_
#define KVR_APP_CORE_VARIABLES_H_

#include <memory>

#include "console/console_model.h"
#include "demo/demo_model.h"
#include "tables/input_table.h"
#include "tables/named_tables.h"
#include "tables/opto_relay_tables.h"
#include "tables/output_table.h"

namespace kvr {

struct Variables {
  InputTable inputs;
  OptoTable optos;
  OutputTable outputs;
  RelayTable relays;
  LocationTable locations{};
  ConsoleNameTable console_names{};
  RcSetTable rc_sets{};
  ConsoleConfigTable console_config{};
  ConsoleTable consoles{};
  FrameTable frames{};

  // Back to the state at program start: every number 0, every text empty.
  // (Field by field: the whole struct is megabytes, too big for a stack temporary.)
  void Clear() {
    inputs.clear();
    optos.clear();
    outputs.clear();
    relays.clear();
    locations.fill({});
    console_names.fill({});
    rc_sets.fill({});
    console_config.fill({});
    consoles.fill({});
    for (auto& frame : frames) frame.fill({});
  }
};

}  // namespace kvr

#endif  // KVR_APP_CORE_VARIABLES_H_
