// Byte layouts of the console configuration file (.con) and the module
// configuration files (.cns), shared by the writers and `inspect`.
//
// .con: header of five int16 (218, 256, 1, 30, 5), then 256 records of 35
//       int16 slots (70 bytes) for consoles 1 to 256: 17930 bytes in all.
// .cns: header of four int16 (3620, 1, moduleCount, consoleIndex - 1), then
//       one 168-byte record per module 1..moduleCount, laid out as
//       kCnsFields says.
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

// Where the header's words and a module record's fields lie (byte offsets;
// the record's from its start). Every other word of a record is fixed:
// 0 at offsets 6 and 8, 16383 (none) elsewhere.
inline constexpr std::size_t kCnsCountAt = 4;
inline constexpr std::size_t kCnsConsoleIndexAt = 6;
struct CnsFieldOffsets {
  std::size_t type = 0;
  std::size_t mix_minus_on = 28;
  std::size_t mix_minus_off = 30;
  std::size_t mfd_mask = 34;  // 32 bits
  std::size_t assignment_count = 38;
  std::size_t assignments = 40;  // kCnsAssignmentPairs pairs: function code, target
};
inline constexpr CnsFieldOffsets kCnsFields{};
static_assert(kCnsFields.assignments + 4 * kCnsAssignmentPairs == kCnsRecordBytes);

// One module record's bytes, and the record read back from `bytes` at `at`
// (which holds kCnsRecordBytes from there). An assignment past the count is
// written as function 255, target none.
std::string EncodeModuleRecord(const ModuleRecord& mod);
ModuleRecord DecodeModuleRecord(std::string_view bytes, std::size_t at);
// The field at `offset` of a module record, as the module sheet names it.
std::string CnsFieldAt(std::size_t offset);

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
