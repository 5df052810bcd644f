#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>

#include "BigEndian.h"
#include "ByteReader.h"

namespace ostrel::media {

// Bytes of a source, addressed by their offsets in it: either a window of
// them already copied into memory, read without a cache lookup per field, or
// the whole source through its reader. The box walk and the field reads run
// on either unchanged; a read outside the bytes fails.
class ByteView {
 public:
  explicit ByteView(const ByteReader& reader) : reader_(&reader), end_(reader.size()) {}
  ByteView(std::uint64_t begin, std::span<const std::uint8_t> memory)
      : memory_(memory.data()), begin_(begin), end_(begin + memory.size()) {}

  // Where its bytes begin and end in the source.
  std::uint64_t begin() const { return begin_; }
  std::uint64_t end() const { return end_; }

  bool read(std::uint64_t offset, std::span<std::uint8_t> out) const {
    if (memory_ == nullptr) return reader_->read(offset, out);
    const std::uint64_t into = offset - begin_;  // wraps for offsets before it
    if (into > end_ - begin_ || out.size() > end_ - begin_ - into) return false;
    copy(out, memory_ + into);
    return true;
  }
  // A read that the caller has kept inside [begin(), end()). A source may
  // still be cut short since it was opened, so a reader's read is checked.
  bool readWithin(std::uint64_t offset, std::span<std::uint8_t> out) const {
    if (memory_ == nullptr) return reader_->read(offset, out);
    copy(out, memory_ + (offset - begin_));
    return true;
  }

  std::optional<std::uint8_t> u8(std::uint64_t offset) const { return field<std::uint8_t>(offset); }
  std::optional<std::uint16_t> u16(std::uint64_t offset) const { return field<std::uint16_t>(offset); }
  std::optional<std::uint32_t> u32(std::uint64_t offset) const { return field<std::uint32_t>(offset); }

 private:
  // Fields and box headers take 4 or 8 bytes: copies of a known size inline.
  static void copy(std::span<std::uint8_t> out, const std::uint8_t* from) {
    if (out.size() == 8) {
      std::memcpy(out.data(), from, 8);
    } else if (out.size() == 4) {
      std::memcpy(out.data(), from, 4);
    } else {
      std::memcpy(out.data(), from, out.size());
    }
  }

  template <typename Int>
  std::optional<Int> field(std::uint64_t offset) const {
    std::array<std::uint8_t, sizeof(Int)> bytes;
    if (!read(offset, bytes)) return std::nullopt;
    return loadBigEndian<Int>(bytes.data());
  }

  const ByteReader* reader_ = nullptr;
  const std::uint8_t* memory_ = nullptr;
  std::uint64_t begin_ = 0;
  std::uint64_t end_ = 0;
};

}  // namespace ostrel::media
