#include "Box.h"

#include <algorithm>

namespace ostrel::media {

std::optional<Box> ChildBoxes::unusualSize(std::uint32_t size32, FourCC type) {
  const std::uint64_t room = end_ - position_;
  Box box{.type = type, .offset = position_, .headerSize = 8, .size = size32};
  if (size32 == 1) {
    const std::optional<std::uint64_t> size64 = room >= 16 ? reader_->u64(position_ + 8) : std::nullopt;
    if (!size64) return std::nullopt;
    box.headerSize = 16;
    box.size = *size64;
  } else if (size32 == 0) {
    if (level_ == Level::Nested) return std::nullopt;
    box.size = room;
  }
  if (box.size < box.headerSize) return std::nullopt;
  box.size = std::min(box.size, room);
  position_ += box.size;
  return box;
}

std::optional<Box> findChild(const ByteReader& reader, const Box& parent, FourCC type) {
  ChildBoxes children(reader, parent);
  while (std::optional<Box> child = children.next()) {
    if (child->type == type) return child;
  }
  return std::nullopt;
}

}  // namespace ostrel::media
