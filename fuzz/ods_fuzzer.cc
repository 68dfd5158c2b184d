// The .ods reader. An input starting "PK" is taken as a whole zip file; any
// other input becomes the content.xml of a package built around it.
#include <string>

#include "fuzz/workbook_fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size >= 2 && data[0] == 'P' && data[1] == 'K') {
    kvr::FuzzWorkbook(data, size, &kvr::OpenOdsWorkbook);
  } else {
    const std::string zip = kvr::BuildZip({{"mimetype", "application/vnd.oasis.opendocument.spreadsheet"},
                                           {"content.xml", std::string(reinterpret_cast<const char*>(data), size)}});
    kvr::FuzzWorkbook(reinterpret_cast<const std::uint8_t*>(zip.data()), zip.size(), &kvr::OpenOdsWorkbook);
  }
  return 0;
}
