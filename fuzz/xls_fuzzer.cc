#include "fuzz/workbook_fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kvr::FuzzWorkbook(data, size, &kvr::OpenXlsWorkbook);
  return 0;
}
