// The .xlsx reader. An input starting "PK" is taken as a whole zip file.
// Any other input is split at NUL bytes into the parts of a package that is
// then built around them (worksheet, shared strings, styles, workbook), so
// mutations reach the XML handling instead of dying in the zip checksums.
#include <string>
#include <vector>

#include "fuzz/workbook_fuzz_input.h"

namespace {

const char* const kRels =
    "<?xml version=\"1.0\"?><Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
    "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
    "officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>";
const char* const kWorkbookRels =
    "<?xml version=\"1.0\"?><Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
    "<Relationship Id=\"rId1\" Type=\"http://x/worksheet\" Target=\"worksheets/sheet1.xml\"/>"
    "<Relationship Id=\"rId2\" Type=\"http://x/sharedStrings\" Target=\"sharedStrings.xml\"/>"
    "<Relationship Id=\"rId3\" Type=\"http://x/styles\" Target=\"/xl/styles.xml\"/></Relationships>";
const char* const kWorkbook =
    "<workbook xmlns:r=\"r\"><workbookPr date1904=\"0\"/><sheets><sheet name=\"S\" r:id=\"rId1\"/></sheets></workbook>";

std::string BuildPackage(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> parts(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0 && parts.size() < 4) parts.emplace_back();
    else parts.back().push_back(static_cast<char>(data[i]));
  }
  parts.resize(4);
  if (parts[3].empty()) parts[3] = kWorkbook;
  return kvr::BuildZip({{"_rels/.rels", kRels},
                        {"xl/_rels/workbook.xml.rels", kWorkbookRels},
                        {"xl/worksheets/sheet1.xml", parts[0]},
                        {"xl/sharedStrings.xml", parts[1]},
                        {"xl/styles.xml", parts[2]},
                        {"xl/workbook.xml", parts[3]}});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size >= 2 && data[0] == 'P' && data[1] == 'K') {
    kvr::FuzzWorkbook(data, size, &kvr::OpenXlsxWorkbook);
  } else {
    const std::string zip = BuildPackage(data, size);
    kvr::FuzzWorkbook(reinterpret_cast<const std::uint8_t*>(zip.data()), zip.size(), &kvr::OpenXlsxWorkbook);
  }
  return 0;
}
