#include "demo/demo_ini.h"

#include <algorithm>

#include "demo/ini_writer.h"

namespace kvr {
namespace {

std::string ChannelText(std::int16_t v) { return v == 0 ? std::string() : std::to_string(v); }

}  // namespace

std::string BuildDemoIni(const DemoSystem& system, const FrameTable& frames, const ConsoleTable& consoles) {
  IniWriter ini;
  ini.SelectSection("SYSTEM");
  ini.Set("Name", system.SystemName);
  ini.Set("Inputs", system.InputCount);
  ini.Set("Outputs", system.OutputCount);
  ini.Set("Frame Count", system.FrameCount);
  ini.Set("Console Count", system.ConsoleCount);
  const SlotRecord empty;
  for (int f = 1; f <= system.FrameCount; ++f) {
    for (int s = 1; s <= kSlotsPerFrame; ++s) {
      const SlotRecord& slot =
          f <= kFrames ? frames[static_cast<std::size_t>(f - 1)][static_cast<std::size_t>(s - 1)] : empty;
      ini.SelectSection("SLOT " + std::to_string(f) + "-" + std::to_string(s));
      ini.Set("Type", slot.moduleType);
      ini.Set("In Chan", ChannelText(slot.firstInput));
      ini.Set("Out Chan", ChannelText(slot.firstOutput));
      ini.Set("Relay", ChannelText(slot.firstRelay));
      ini.Set("Opto", ChannelText(slot.firstOpto));
    }
  }
  for (int c = 1; c <= system.ConsoleCount && c <= static_cast<int>(consoles.size()); ++c) {
    const ConsoleRecord& console = consoles[static_cast<std::size_t>(c - 1)];
    ini.SelectSection("CONSOLE " + std::to_string(c));
    ini.Set("Size", console.moduleCount);
    ini.Set("Frame", console.frameNumber);
    ini.Set("Slot", console.slotNumber);
    ini.Set("Port", console.portNumber);
    const int modules = std::min<int>(console.moduleCount, static_cast<int>(kModules));
    for (int m = 1; m <= modules; ++m) {
      const ModuleRecord& module = console.modules[static_cast<std::size_t>(m - 1)];
      ini.SelectSection("Module " + std::to_string(c) + "-" + std::to_string(m));
      ini.Set("Type", module.moduleTypeText);
      ini.Set("ID", module.deviceId);
      ini.Set("Template", module.templateId);
    }
  }
  return ini.Serialize();
}

}  // namespace kvr
