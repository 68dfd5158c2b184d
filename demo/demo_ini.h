// Writing the demo model as DemoSetup.ini: [SYSTEM], every [SLOT f-s] of
// frames 1..FrameCount (21 slots each), then each [CONSOLE c] followed by its
// [Module c-m] sections.
#ifndef KVR_DEMO_DEMO_INI_H_
#define KVR_DEMO_DEMO_INI_H_

#include <cstdint>
#include <string>

#include "console/console_model.h"
#include "demo/demo_model.h"

namespace kvr {

struct DemoSystem {
  std::string SystemName;
  std::int16_t InputCount = 0;
  std::int16_t OutputCount = 0;
  std::int16_t FrameCount = 0;
  std::int16_t ConsoleCount = 0;
};

// The INI text. Frames past the 8 the table holds (a ninth frame) get slot
// sections with every value empty; module sections run to min(moduleCount, 41).
std::string BuildDemoIni(const DemoSystem& system, const FrameTable& frames, const ConsoleTable& consoles);

}  // namespace kvr

#endif  // KVR_DEMO_DEMO_INI_H_
