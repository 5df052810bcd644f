#pragma once

#include <cstdint>
#include <span>

namespace ostrel::media {

// The bytes read as one unsigned number, most significant first. Callers pass
// at most eight bytes.
inline std::uint64_t bigEndian(std::span<const std::uint8_t> bytes) {
  std::uint64_t value = 0;
  for (const std::uint8_t byte : bytes) value = (value << 8) | byte;
  return value;
}

}  // namespace ostrel::media
