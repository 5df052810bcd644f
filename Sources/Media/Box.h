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
  std::uint32_t headerSize = 0;  // 8, or 16 with a 64-bit size
  std::uint64_t offset = 0;
  std::uint64_t size = 0;

  std::uint64_t payload() const { return offset + headerSize; }
  std::uint64_t end() const { return offset + size; }
  std::uint64_t payloadSize() const { return size - headerSize; }
};

// Where a range that starts at `begin` may end inside `bytes`: at begin, so
// that it is empty, when it starts outside them.
template <typename Bytes>
std::uint64_t clippedEnd(const Bytes& bytes, std::uint64_t begin, std::uint64_t end) {
  const std::uint64_t first = bytes.begin(), last = bytes.end();
  if (begin - first > last - first) return begin;  // wraps for a begin before first
  return std::clamp(end, begin, last);
}

// Walks the boxes laid one after another in [begin, end), reading headers only.
// A box that claims to run past end is clipped to end, never followed beyond it.
// A header that does not fit, or that is longer than its declared size, ends
// the list. At the top level a size of 0 runs to the end of the source; inside
// a container a 32-bit zero where a header would start ends the list, as
// QuickTime writes such terminators. Every box takes at least 8 bytes of real
// header, so a walk costs no more steps than the headers really there.
//
// Bytes is a ByteReader, or a ByteView such as a window of bytes already in
// memory.
template <typename Bytes>
class BasicChildBoxes {
 public:
  enum class Level { Top, Nested };

  BasicChildBoxes() = default;
  // The range is clipped to the bytes there are, so that each read inside it
  // needs no check of its own.
  BasicChildBoxes(const Bytes& bytes, std::uint64_t begin, std::uint64_t end, Level level = Level::Nested)
      : bytes_(&bytes), position_(begin), end_(clippedEnd(bytes, begin, end)), level_(level) {}
  BasicChildBoxes(const Bytes& bytes, const Box& parent) : BasicChildBoxes(bytes, parent.payload(), parent.end()) {}

  std::optional<Box> next() {
    // A default walk has no room.
    if (end_ - position_ < 8) return std::nullopt;
    std::array<std::uint8_t, 8> header;  // 32-bit size, then type
    if (!bytes_->readWithin(position_, header)) return std::nullopt;
    const std::uint32_t size32 = loadBigEndian<std::uint32_t>(header.data());
    const FourCC type = loadBigEndian<FourCC>(header.data() + 4);
    if (size32 < 8) return unusualSize(size32, type);
    const std::uint64_t size = std::min<std::uint64_t>(size32, end_ - position_);
    const Box box{.type = type, .headerSize = 8, .offset = position_, .size = size};
    position_ += size;
    return box;
  }

 private:
  // A size of 1 (a 64-bit size follows), 0, or one too small for a header.
  std::optional<Box> unusualSize(std::uint32_t size32, FourCC type) {
    const std::uint64_t room = end_ - position_;
    Box box{.type = type, .headerSize = 8, .offset = position_, .size = size32};
    if (size32 == 1) {
      std::array<std::uint8_t, 8> size64;
      if (room < 16 || !bytes_->readWithin(position_ + 8, size64)) return std::nullopt;
      box.headerSize = 16;
      box.size = loadBigEndian<std::uint64_t>(size64.data());
    } else if (size32 == 0) {
      if (level_ == Level::Nested) return std::nullopt;
      box.size = room;
    }
    if (box.size < box.headerSize) return std::nullopt;
    box.size = std::min(box.size, room);
    position_ += box.size;
    return box;
  }

  const Bytes* bytes_ = nullptr;
  std::uint64_t position_ = 0;
  std::uint64_t end_ = 0;
  Level level_ = Level::Nested;
};

using ChildBoxes = BasicChildBoxes<ByteReader>;

// The first child of parent of the given type.
std::optional<Box> findChild(const ByteReader& reader, const Box& parent, FourCC type);

}  // namespace ostrel::media
