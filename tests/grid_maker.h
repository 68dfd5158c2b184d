// Builds in-memory grids for tests: MakeGrid("Sources", {{1, "Mic"}, {2, E("#N/A")}}).
#ifndef KVR_TESTS_GRID_MAKER_H_
#define KVR_TESTS_GRID_MAKER_H_

#include <initializer_list>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "workbook/sheet_grid.h"

namespace kvr::testing {

struct E { std::string name; };        // an error value
struct D { double serial; };           // a date serial
using V = std::variant<std::monostate, double, int, const char*, std::string, bool, E, D>;
inline constexpr std::monostate kEmpty{};

// Rows of cells placed from A1 (or from `first_row`, `first_column`).
inline SheetGrid MakeGrid(std::string name, std::vector<std::vector<V>> rows, int first_row = 1,
                          int first_column = 1, bool date1904 = false) {
  SheetGridBuilder b(std::move(name), date1904);
  for (std::size_t r = 0; r < rows.size(); ++r) {
    for (std::size_t c = 0; c < rows[r].size(); ++c) {
      const int row = first_row + static_cast<int>(r), col = first_column + static_cast<int>(c);
      std::visit(
          [&](const auto& v) {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, double> || std::is_same_v<T, int>) b.AddNumber(row, col, v);
            else if constexpr (std::is_same_v<T, const char*>) b.AddText(row, col, b.InternText(v));
            else if constexpr (std::is_same_v<T, std::string>) b.AddText(row, col, b.InternText(v));
            else if constexpr (std::is_same_v<T, bool>) b.AddBoolean(row, col, v);
            else if constexpr (std::is_same_v<T, E>) b.AddError(row, col, v.name);
            else if constexpr (std::is_same_v<T, D>) b.AddDate(row, col, v.serial);
          },
          rows[r][c]);
    }
  }
  return std::move(b).Build();
}

// A 1 x 1 grid holding `v`.
inline SheetGrid One(V v) { return MakeGrid("S", {{std::move(v)}}); }

}  // namespace kvr::testing

#endif  // KVR_TESTS_GRID_MAKER_H_
