#include "TimecodeSample.h"

#include "Media/BigEndian.h"

namespace ostrel {

std::optional<StartFrame> decodeTimecodeSample(media::FourCC subtype, std::span<const std::uint8_t> data) {
  const std::size_t width = timecodePayloadWidth(subtype);
  if (width == 0 || data.size() < width) return std::nullopt;
  if (width == 4) return media::loadBigEndian<std::uint32_t>(data.data());
  const std::uint64_t frame = media::loadBigEndian<std::uint64_t>(data.data());
  if (frame > UINT32_MAX) return std::nullopt;
  return static_cast<StartFrame>(frame);
}

}  // namespace ostrel
