// Rounding a double into a 16-bit integer, the one conversion every number
// cell, stored number and derived index goes through: to nearest, ties to
// even (2.5 gives 2, 3.5 gives 4), and nothing when the result leaves
// -32768..32767 or the value is not a number.
#ifndef KVR_BASE_ROUND16_H_
#define KVR_BASE_ROUND16_H_

#include <cmath>
#include <cstdint>
#include <optional>

namespace kvr {

inline std::optional<std::int16_t> RoundToInt16(double v) {
  v = std::nearbyint(v);  // the default rounding mode: to nearest, ties to even
  if (!(v >= -32768 && v <= 32767)) return std::nullopt;
  return static_cast<std::int16_t>(v);
}

}  // namespace kvr

#endif  // KVR_BASE_ROUND16_H_
