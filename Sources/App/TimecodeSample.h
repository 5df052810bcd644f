#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include <ostrel/ostrel.h>

namespace ostrel {

// A media subtype: four ASCII characters, most significant byte first.
using FourCharCode = std::uint32_t;

inline constexpr FourCharCode kTimecode32 = 0x746D6364;  // 'tmcd'
inline constexpr FourCharCode kTimecode64 = 0x74633634;  // 'tc64'

// The frame number a timecode sample stores at the start of its data, read
// big-endian. Nothing for another subtype, for a view too short for the
// payload, and for a 64-bit frame number that does not fit 32 bits.
std::optional<StartFrame> decodeTimecodeSample(FourCharCode subtype,
                                               std::span<const std::uint8_t> data);

}  // namespace ostrel
