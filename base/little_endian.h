// Little-endian integer encoding for the binary output files.
#ifndef KVR_BASE_LITTLE_ENDIAN_H_
#define KVR_BASE_LITTLE_ENDIAN_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kvr {

inline void PutInt16(std::string& out, std::int16_t v) {
  const auto u = static_cast<std::uint16_t>(v);
  out.push_back(static_cast<char>(u & 0xFF));
  out.push_back(static_cast<char>(u >> 8));
}

inline void PutInt32(std::string& out, std::int32_t v) {
  const auto u = static_cast<std::uint32_t>(v);
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((u >> (8 * i)) & 0xFF));
}

// Into bytes already there; the caller checks that `at` + 2 (or 4) lies
// within `out`.
inline void SetInt16(std::string& out, std::size_t at, std::int16_t v) {
  const auto u = static_cast<std::uint16_t>(v);
  out[at] = static_cast<char>(u & 0xFF);
  out[at + 1] = static_cast<char>(u >> 8);
}

inline void SetInt32(std::string& out, std::size_t at, std::int32_t v) {
  const auto u = static_cast<std::uint32_t>(v);
  for (std::size_t i = 0; i < 4; ++i) out[at + i] = static_cast<char>((u >> (8 * i)) & 0xFF);
}

// The caller checks that `at` + 2 (or 4) lies within `in`.
inline std::int16_t GetInt16(std::string_view in, std::size_t at) {
  return static_cast<std::int16_t>(static_cast<std::uint8_t>(in[at]) |
                                   (static_cast<std::uint8_t>(in[at + 1]) << 8));
}

inline std::int32_t GetInt32(std::string_view in, std::size_t at) {
  std::uint32_t u = 0;
  for (int i = 0; i < 4; ++i) u |= static_cast<std::uint32_t>(static_cast<std::uint8_t>(in[at + i])) << (8 * i);
  return static_cast<std::int32_t>(u);
}

}  // namespace kvr

#endif  // KVR_BASE_LITTLE_ENDIAN_H_
