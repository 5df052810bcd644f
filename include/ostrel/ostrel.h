#pragma once

// Compiles as C++17 and later; the library itself is built as C++20.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>

namespace ostrel {

// The frame counter stored in a timecode sample.
using StartFrame = std::uint32_t;

// The frame number stored in the first decodable sample of the first timecode
// track that has one, in a QuickTime or MP4 file. Nothing when the file cannot
// be read, has no timecode track or no usable sample. Never throws.
std::optional<StartFrame> readStartFrame(const std::filesystem::path& from);

// The same, for a movie of `size` bytes held in memory at `data`.
std::optional<StartFrame> readStartFrame(const std::uint8_t* data, std::size_t size);

}  // namespace ostrel
