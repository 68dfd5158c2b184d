// The .xlsx reader. An input starting "PK" is taken as a whole zip file.
// Any other input is split at NUL bytes into the parts of a package that is
// then built around them (worksheet, shared strings, styles, workbook), so
// mutations reach the XML handling instead of dying in the zip checksums.
#include <zip.h>

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
  const std::pair<const char*, const std::string*> entries[] = {
      {"xl/worksheets/sheet1.xml", &parts[0]}, {"xl/sharedStrings.xml", &parts[1]},
      {"xl/styles.xml", &parts[2]}, {"xl/workbook.xml", &parts[3]}};
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* buffer = zip_source_buffer_create(nullptr, 0, 0, &error);
  zip_t* z = zip_open_from_source(buffer, ZIP_TRUNCATE, &error);
  std::string out;
  if (z == nullptr) {
    zip_source_free(buffer);
    return out;
  }
  zip_source_keep(buffer);
  auto add = [&](const char* name, const std::string& content) {
    zip_source_t* src = zip_source_buffer(z, content.data(), content.size(), 0);
    if (zip_file_add(z, name, src, ZIP_FL_OVERWRITE) < 0) zip_source_free(src);
  };
  const std::string rels = kRels, workbook_rels = kWorkbookRels;
  add("_rels/.rels", rels);
  add("xl/_rels/workbook.xml.rels", workbook_rels);
  for (const auto& [name, content] : entries) add(name, *content);
  if (zip_close(z) == 0 && zip_source_open(buffer) == 0) {
    char chunk[4096];
    zip_int64_t n;
    while ((n = zip_source_read(buffer, chunk, sizeof chunk)) > 0) out.append(chunk, static_cast<std::size_t>(n));
    zip_source_close(buffer);
  } else if (z != nullptr) {
    zip_discard(z);
  }
  zip_source_free(buffer);
  return out;
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
