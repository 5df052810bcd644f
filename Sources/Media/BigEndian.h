#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace ostrel::media {

// The unsigned integer stored at `bytes`, most significant byte first, read
// without any alignment requirement.
template <typename Int>
Int loadBigEndian(const std::uint8_t* bytes) {
  Int value;
  std::memcpy(&value, bytes, sizeof value);
  if constexpr (std::endian::native == std::endian::little) {
    if constexpr (sizeof(Int) == 2) value = __builtin_bswap16(value);
    if constexpr (sizeof(Int) == 4) value = __builtin_bswap32(value);
    if constexpr (sizeof(Int) == 8) value = __builtin_bswap64(value);
  }
  return value;
}

}  // namespace ostrel::media
