// The value every index field holds for "none": 16383, one past the largest
// channel index the switcher uses.
#ifndef KVR_BASE_INDEX_H_
#define KVR_BASE_INDEX_H_

#include <cstdint>

namespace kvr {

inline constexpr std::int16_t NoIndex = 16383;

}  // namespace kvr

#endif  // KVR_BASE_INDEX_H_
