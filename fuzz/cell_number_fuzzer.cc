// Number reading: Val and CellNumber on any text, and the number texts that
// CellText writes read back to the same value.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "workbook/cell_convert.h"
#include "workbook/sheet_grid.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  (void)kvr::Val(text);
  kvr::SheetGridBuilder b("S", false);
  b.AddText(1, 1, b.InternText(text));
  const kvr::SheetGrid grid = std::move(b).Build();
  // CellNumber is Val rounded half to even, or nothing when that leaves 16 bits.
  const double rounded = std::nearbyint(kvr::Val(text));
  const auto n = kvr::CellNumber(grid, 1, 1);
  if (n.has_value() != (rounded >= -32768 && rounded <= 32767)) std::abort();
  if (n && *n != rounded) std::abort();
  if (size >= sizeof(double)) {
    double v;
    std::memcpy(&v, data, sizeof v);
    // Near the largest double, 15 significant digits round past it: the text
    // then reads back as an overflow, which Val reports as no number.
    if (std::isfinite(v) && std::fabs(v) < 1.7976931348623e308) {
      const std::string shown = kvr::FormatNumber(v);
      const double back = kvr::Val(shown);
      // 15 significant digits survive the round trip.
      if (std::fabs(back - v) > std::fabs(v) * 1e-14 && !(std::fabs(v) < 1e-300)) std::abort();
      // A number cell reads exactly as its text would.
      kvr::SheetGridBuilder nb("S", false);
      nb.AddNumber(1, 1, v);
      nb.AddText(1, 2, nb.InternText(shown));
      const kvr::SheetGrid g = std::move(nb).Build();
      if (kvr::CellNumber(g, 1, 1) != kvr::CellNumber(g, 1, 2)) std::abort();
      if (kvr::CellByte(g, 1, 1) != kvr::CellByte(g, 1, 2)) std::abort();
    }
  }
  return 0;
}
