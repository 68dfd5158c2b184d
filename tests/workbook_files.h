// Writes small workbook files for reader tests: zip packages with given
// parts, and OLE2 compound files with given streams (BIFF records built by
// BiffRecords).
#ifndef KVR_TESTS_WORKBOOK_FILES_H_
#define KVR_TESTS_WORKBOOK_FILES_H_

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "workbook/workbook.h"

namespace kvr::testing {

// The workbook at `path` opened; a file that does not open throws
// WorkbookError with the reason, so a test fails on it or reads it.
std::unique_ptr<Workbook> Open(const std::filesystem::path& path);

using Parts = std::vector<std::pair<std::string, std::string>>;

void WriteZip(const std::filesystem::path& path, const Parts& parts);
// Compound files are written with libgsf, where the build has it.
bool CanWriteOle2();
void WriteOle2(const std::filesystem::path& path, const Parts& streams);

// The parts of a minimal .xlsx with one sheet "Sheet1" whose sheetData holds
// `sheet_data`, and the given shared strings (<si> elements).
Parts MinimalXlsx(const std::string& sheet_data, const std::string& shared_strings = "");

// A workbook with the given sheets, each a list of rows; a cell is a number,
// a text (inline string) or empty ("" is written as no cell).
using SheetRows = std::vector<std::vector<std::variant<std::monostate, double, std::string>>>;
void WriteXlsx(const std::filesystem::path& path, const std::vector<std::pair<std::string, SheetRows>>& sheets);

// Little-endian BIFF8 records.
class BiffRecords {
 public:
  BiffRecords& Add(std::uint16_t type, const std::string& data);
  BiffRecords& Bof(std::uint16_t kind);  // 0x0005 globals, 0x0010 worksheet
  BiffRecords& Eof() { return Add(0x000A, ""); }
  const std::string& bytes() const { return bytes_; }
  std::size_t size() const { return bytes_.size(); }

  static std::string U16(std::uint16_t v);
  static std::string U32(std::uint32_t v);
  static std::string F64(double v);
  // XLUnicodeString with 16-bit count, compressed (Latin-1) characters.
  static std::string Str16(const std::string& latin1);
  // ShortXLUnicodeString (8-bit count).
  static std::string Str8(const std::string& latin1);

 private:
  std::string bytes_;
};

}  // namespace kvr::testing

#endif  // KVR_TESTS_WORKBOOK_FILES_H_
