#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>

#include "BigEndian.h"
#include "ByteReader.h"
#include "FourCC.h"

namespace ostrel::media {

// A box located in its source: [offset, offset + size), header included.
struct Box {
  FourCC type = 0;
  std::uint64_t offset = 0;
  std::uint64_t headerSize = 0;
  std::uint64_t size = 0;

  std::uint64_t payload() const { return offset + headerSize; }
  std::uint64_t end() const { return offset + size; }
  std::uint64_t payloadSize() const { return size - headerSize; }
};

// Walks the boxes laid one after another in [begin, end), reading headers only.
// A box that claims to run past end is clipped to end, never followed beyond it.
// A header that does not fit, or that is longer than its declared size, ends
// the list. At the top level a size of 0 runs to the end of the source; inside
// a container a 32-bit zero where a header would start ends the list, as
// QuickTime writes such terminators. Every box takes at least 8 bytes of real
// header, so a walk costs no more steps than the headers really there.
class ChildBoxes {
 public:
  enum class Level { Top, Nested };

  ChildBoxes() = default;
  ChildBoxes(const ByteReader& reader, std::uint64_t begin, std::uint64_t end, Level level = Level::Nested)
      : reader_(&reader), position_(begin), end_(std::min(end, reader.size())), level_(level) {}
  ChildBoxes(const ByteReader& reader, const Box& parent)
      : ChildBoxes(reader, parent.payload(), parent.end()) {}

  std::optional<Box> next() {
    // Defined here, as every walk goes through it. A default walk has no room.
    if (position_ >= end_ || end_ - position_ < 8) return std::nullopt;
    std::array<std::uint8_t, 8> header;  // 32-bit size, then type
    if (!reader_->read(position_, header)) return std::nullopt;
    const std::uint32_t size32 = loadBigEndian<std::uint32_t>(header.data());
    if (size32 < 8) return unusualSize(size32, loadBigEndian<FourCC>(header.data() + 4));
    const std::uint64_t size = std::min<std::uint64_t>(size32, end_ - position_);
    const Box box{.type = loadBigEndian<FourCC>(header.data() + 4), .offset = position_, .headerSize = 8, .size = size};
    position_ += size;
    return box;
  }

 private:
  // A size of 1 (a 64-bit size follows), 0, or one too small for a header.
  std::optional<Box> unusualSize(std::uint32_t size32, FourCC type);

  const ByteReader* reader_ = nullptr;
  std::uint64_t position_ = 0;
  std::uint64_t end_ = 0;
  Level level_ = Level::Nested;
};

// The first child of parent of the given type.
std::optional<Box> findChild(const ByteReader& reader, const Box& parent, FourCC type);

}  // namespace ostrel::media
