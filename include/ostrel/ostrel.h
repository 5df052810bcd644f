#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>

namespace ostrel {

// The frame counter stored in a timecode sample.
using StartFrame = std::uint32_t;

// The frame number stored in the first decodable sample of the first timecode
// track that has one, in a QuickTime or MP4 file. Nothing when the file cannot
// be read, has no timecode track or no usable sample. Never throws.
std::optional<StartFrame> readStartFrame(const std::filesystem::path& from);

// The same, for a movie held in memory.
std::optional<StartFrame> readStartFrame(std::span<const std::uint8_t> from);

}  // namespace ostrel
