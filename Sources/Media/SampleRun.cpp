#include "SampleRun.h"

namespace ostrel::media {

std::optional<std::uint32_t> SampleSizes::at(const ByteView& bytes, std::uint64_t index) const {
  if (constant) return constant;
  const std::uint64_t entry = firstEntry + index;
  switch (fieldBits) {
    case 4: {
      const std::optional<std::uint8_t> pair = bytes.u8(tableOffset + entry / 2);
      if (!pair) return std::nullopt;
      return entry % 2 == 0 ? *pair >> 4 : *pair & 0x0F;
    }
    case 8:
      return bytes.u8(tableOffset + entry * stride);
    case 16:
      return bytes.u16(tableOffset + entry * stride);
    default:
      return bytes.u32(tableOffset + entry * stride);
  }
}

std::optional<std::uint64_t> SampleRun::dataEnd(const ByteView& sizeBytes) const {
  std::uint64_t end = dataOffset;
  if (sizes.constant) {
    // count < 2^32 and size < 2^32, so only the sum can overflow.
    const std::uint64_t length = count * *sizes.constant;
    if (count > UINT32_MAX || length > UINT64_MAX - end) return std::nullopt;
    return end + length;
  }
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::optional<std::uint32_t> size = sizes.at(sizeBytes, i);
    if (!size || *size > UINT64_MAX - end) return std::nullopt;
    end += *size;
  }
  return end;
}

}  // namespace ostrel::media
