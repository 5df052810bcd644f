#pragma once

#include <cstdint>
#include <optional>

#include "ByteReader.h"
#include "FourCC.h"

namespace ostrel::media {

// A box located in the source: [offset, offset + size), header included.
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
// QuickTime writes such terminators.
class ChildBoxes {
 public:
  enum class Level { Top, Nested };

  ChildBoxes() = default;
  ChildBoxes(const ByteReader& reader, std::uint64_t begin, std::uint64_t end,
             Level level = Level::Nested);
  ChildBoxes(const ByteReader& reader, const Box& parent, std::uint64_t skip = 0);

  std::optional<Box> next();

  // The offset at which the next header would be read.
  std::uint64_t position() const { return position_; }

 private:
  const ByteReader* reader_ = nullptr;
  std::uint64_t position_ = 0;
  std::uint64_t end_ = 0;
  Level level_ = Level::Nested;
};

// The first child of parent of the given type, after skipping `skip` payload bytes.
std::optional<Box> findChild(const ByteReader& reader, const Box& parent, FourCC type,
                             std::uint64_t skip = 0);

// Follows a path of nested types down from parent, each the first of its kind.
template <typename... Types>
std::optional<Box> findPath(const ByteReader& reader, const Box& parent, Types... types) {
  std::optional<Box> box = parent;
  ((box = box ? findChild(reader, *box, types) : std::nullopt), ...);
  return box;
}

// Full boxes start with a version byte and 24 bits of flags.
constexpr std::uint64_t kFullBoxHeader = 4;

}  // namespace ostrel::media
