#include "TimecodeSample.h"

namespace ostrel {

namespace {
std::uint64_t readBigEndian(std::span<const std::uint8_t> bytes) {
  std::uint64_t value = 0;
  for (std::uint8_t byte : bytes) value = (value << 8) | byte;
  return value;
}
}  // namespace

std::optional<StartFrame> decodeTimecodeSample(FourCharCode subtype,
                                               std::span<const std::uint8_t> data) {
  std::size_t width = 0;
  if (subtype == kTimecode32) width = 4;
  if (subtype == kTimecode64) width = 8;
  if (width == 0 || data.size() < width) return std::nullopt;
  const std::uint64_t frame = readBigEndian(data.first(width));
  if (frame > UINT32_MAX) return std::nullopt;
  return static_cast<StartFrame>(frame);
}

}  // namespace ostrel
