#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include <ostrel/ostrel.h>

#include "Media/FourCC.h"

namespace ostrel {

inline constexpr media::FourCC kTimecode32 = media::fourCC("tmcd");
inline constexpr media::FourCC kTimecode64 = media::fourCC("tc64");

// The bytes the frame number of a timecode sample takes; 0 for any other subtype.
constexpr std::uint32_t timecodePayloadWidth(media::FourCC subtype) {
  if (subtype == kTimecode32) return 4;
  if (subtype == kTimecode64) return 8;
  return 0;
}

// The frame number a timecode sample stores at the start of its data, read
// big-endian. Nothing for another subtype, for a view too short for the
// payload, and for a 64-bit frame number that does not fit 32 bits.
std::optional<StartFrame> decodeTimecodeSample(media::FourCC subtype, std::span<const std::uint8_t> data);

}  // namespace ostrel
