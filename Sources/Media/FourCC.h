#pragma once

#include <cstdint>

namespace ostrel::media {

// Four ASCII characters packed most significant first, as box and format types are stored.
using FourCC = std::uint32_t;

constexpr FourCC fourCC(const char (&code)[5]) {
  return (FourCC(static_cast<unsigned char>(code[0])) << 24) |
         (FourCC(static_cast<unsigned char>(code[1])) << 16) |
         (FourCC(static_cast<unsigned char>(code[2])) << 8) |
         FourCC(static_cast<unsigned char>(code[3]));
}

}  // namespace ostrel::media
