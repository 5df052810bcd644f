#include "Box.h"

namespace ostrel::media {

std::optional<Box> findChild(const ByteReader& reader, const Box& parent, FourCC type) {
  ChildBoxes children(reader, parent);
  while (std::optional<Box> child = children.next()) {
    if (child->type == type) return child;
  }
  return std::nullopt;
}

}  // namespace ostrel::media
