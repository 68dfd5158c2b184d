// Small pieces of the program's English: counts with their noun.
#ifndef KVR_BASE_WORDS_H_
#define KVR_BASE_WORDS_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace kvr {

// "1 record", "2 records": the count and the noun in its number.
inline std::string Counted(std::size_t n, std::string_view one, std::string_view many) {
  return std::to_string(n) + " " + std::string(n == 1 ? one : many);
}

}  // namespace kvr

#endif  // KVR_BASE_WORDS_H_
