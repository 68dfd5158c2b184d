// The package of an Office Open XML workbook: relationships resolved to
// part names, small parts parsed whole, the _xHHHH_ escapes of package text
// and cell references. For the .xlsx reader.
#ifndef KVR_WORKBOOK_XLSX_PACKAGE_H_
#define KVR_WORKBOOK_XLSX_PACKAGE_H_

#include <cstddef>
#include <pugixml.hpp>
#include <string>
#include <string_view>
#include <unordered_map>

#include "workbook/zip_archive.h"

namespace kvr::xlsx {

// Parts parsed whole (workbook, relationships, styles) hold a few thousand
// elements at most; streamed parts (worksheets, shared strings) are far
// smaller than these caps in the largest real workbook.
inline constexpr std::size_t kSmallPartCap = std::size_t{8} << 20;
inline constexpr std::size_t kLargePartCap = std::size_t{256} << 20;
inline constexpr int kMaxRow = 1048576;
inline constexpr int kMaxColumn = 16384;

bool EndsWith(std::string_view s, std::string_view suffix);

// Decodes the _xHHHH_ escapes of package text: "_x000D_" is a carriage
// return, "_x005F_" an underscore. Surrogate pairs are joined; a lone
// surrogate becomes U+FFFD.
std::string DecodeEscapes(std::string text);

// Resolves a relationship target against the folder of its source part.
std::string ResolveTarget(std::string_view source_dir, std::string_view target);

std::string DirectoryOf(std::string_view part);
std::string RelsPathOf(std::string_view part);

// A small part parsed whole; throws WorkbookError naming `file` and the part.
pugi::xml_document ParseSmallPart(const ZipArchive& zip, const std::string& file, const std::string& part);

// The child, or attribute, of `node` whose local name is `local`.
pugi::xml_node Child(pugi::xml_node node, std::string_view local);
pugi::xml_attribute Attribute(pugi::xml_node node, std::string_view local);

struct Relationship {
  std::string type;
  std::string target;  // resolved part name
};

// The relationships of `part` ("" for the package's own), by id.
std::unordered_map<std::string, Relationship> ReadRelationships(const ZipArchive& zip, const std::string& file,
                                                                const std::string& part);

// Parses "AB12" into row and column; false when malformed or out of range.
bool ParseCellReference(std::string_view ref, int& row, int& column);

}  // namespace kvr::xlsx

#endif  // KVR_WORKBOOK_XLSX_PACKAGE_H_
