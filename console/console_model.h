// The console configuration model: console-wide settings (ConsoleConfigTable,
// written as the .con file) and each console's control modules (ConsoleTable,
// written as one .cns file per console; the demo run fills other fields).
#ifndef KVR_CONSOLE_CONSOLE_MODEL_H_
#define KVR_CONSOLE_CONSOLE_MODEL_H_

#include <array>
#include <cstdint>
#include <string>

#include "base/index.h"

namespace kvr {

inline constexpr std::size_t kConsoles = 257;      // indices 0 to 256
inline constexpr std::size_t kModules = 41;        // indices 0 to 40
inline constexpr std::size_t kAssignments = 33;    // indices 0 to 32; 0 to 31 reach the file
inline constexpr std::size_t kMeters = 8;

struct ConsoleConfigRecord {
  std::int16_t sourceSelect = 0;
  std::int16_t cancelCue = 0;
  std::int16_t cueType = 0;
  std::int16_t fader = 0;
  std::int16_t reserved1 = 0;
  std::int16_t location = 0;
  std::int16_t mic = 0;
  std::int16_t monitor = 0;
  std::int16_t reserved2 = 0;
  std::int16_t talkback = 0;
  std::int16_t reserved3 = 0;
  std::int16_t cueBus = 0;
  std::int16_t cueSpeaker = 0;
  std::int16_t reserved4 = 0;
  std::int16_t hpBus = 0;
  std::int16_t hpOutput = 0;
  std::array<std::int16_t, kMeters> meters{};
  std::int16_t timerStart = 0;
  std::int16_t timerStop = 0;
  std::int16_t timerHold = 0;
  std::int16_t timerReset = 0;
  std::int16_t timerExternal = 0;
  std::array<std::int16_t, 4> reserved5to8{};
  std::uint8_t dimValue = 0;
  std::array<std::uint8_t, 4> reservedBytes{};
};
using ConsoleConfigTable = std::array<ConsoleConfigRecord, kConsoles>;

struct FunctionAssignment {
  std::int16_t functionCode = 0;
  std::int16_t targetIndex = 0;
};

struct ModuleRecord {
  std::int16_t moduleTypeCode = 0;
  std::string moduleTypeText;
  std::int16_t templateId = 0;
  std::int16_t deviceId = 0;
  std::int32_t mfdMask = 0;
  std::int16_t mixMinusOn = 0;
  std::int16_t mixMinusOff = 0;
  std::int16_t assignmentCount = 0;
  std::array<FunctionAssignment, kAssignments> assignments{};
};

struct ConsoleRecord {
  std::int16_t moduleCount = 0;
  std::int16_t consoleIndex = 0;
  std::string consoleName;
  std::array<ModuleRecord, kModules> modules{};
  std::int16_t frameNumber = 0;
  std::int16_t slotNumber = 0;
  std::int16_t portNumber = 0;
};
using ConsoleTable = std::array<ConsoleRecord, kConsoles>;

// The one reset the conversion run makes per console before reading its
// sheet: mix-minus and every assignment to NoIndex, assignmentCount 0, in all
// 41 modules. Module types, MFD masks and the demo fields stay.
void ResetConsoleAssignments(ConsoleRecord& console);

}  // namespace kvr

#endif  // KVR_CONSOLE_CONSOLE_MODEL_H_
