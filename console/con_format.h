// Byte layouts of the console configuration file (.con) and the module
// configuration files (.cns), shared by the writers and `inspect`.
//
// .con: header of five int16 (218, 256, 1, 30, 5), then 256 records of 35
//       int16 slots (70 bytes) for consoles 1 to 256: 17930 bytes in all.
// .cns: header of four int16 (3620, 1, moduleCount, consoleIndex - 1), then
//       one 168-byte record per module 1..moduleCount.
// Everything little-endian.
#ifndef KVR_CONSOLE_CON_FORMAT_H_
#define KVR_CONSOLE_CON_FORMAT_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/status.h"
#include "console/console_model.h"

namespace kvr {

// The fixed header words of each file.
inline constexpr std::int16_t kConHeader[] = {218, 256, 1, 30, 5};
inline constexpr std::int16_t kCnsFileType = 3620;
inline constexpr std::int16_t kCnsVersion = 1;

inline constexpr std::size_t kConRecords = 256;
inline constexpr std::size_t kConSlots = 35;
inline constexpr std::size_t kConHeaderBytes = 10;
inline constexpr std::size_t kConRecordBytes = 70;
inline constexpr std::size_t kConFileBytes = kConHeaderBytes + kConRecords * kConRecordBytes;  // 17930
inline constexpr std::size_t kCnsHeaderBytes = 8;
inline constexpr std::size_t kCnsRecordBytes = 168;
// The most a module file can hold: its count is a 16-bit number.
inline constexpr std::size_t kCnsMaxFileBytes = kCnsHeaderBytes + 32767 * kCnsRecordBytes;
inline constexpr std::size_t kCnsAssignmentPairs = 32;
inline constexpr int kMaxFileModules = 40;

// The file bytes, or the Status saying why the file cannot be written.
// EncodeConsoleConfigFile fails when a console's slot 1 sum leaves 16 bits;
// EncodeModuleFile when the module count lies above 40 or below 0, or the
// console index is -32768.
Result<std::string> EncodeConsoleConfigFile(const ConsoleConfigTable& table);
Result<std::string> EncodeModuleFile(const ConsoleRecord& console);

// The name of slot `slot` (0-based) of a .con record: "switches", "mic", ...
const char* ConSlotName(std::size_t slot);

// What `inspect` shows for the "no index" value 16383.
inline constexpr const char* kNoneLegend = "\"-\" stands for 16383 (none)";

// A readable table of a .con or .cns file's contents, or nullopt with `why`
// when its size does not fit the format: "#" lines saying what the file is
// and what "-" means, one line of column names, then tab-separated rows.
Result<std::string> DescribeConsoleConfigFile(std::string_view bytes);
Result<std::string> DescribeModuleFile(std::string_view bytes);

}  // namespace kvr

#endif  // KVR_CONSOLE_CON_FORMAT_H_
