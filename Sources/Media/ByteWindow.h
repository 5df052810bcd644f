#pragma once

#include <cstdint>
#include <cstring>
#include <span>

namespace ostrel::media {

// Bytes of a source copied into memory, addressed by their offsets in the
// source. It reads like a ByteReader, so the box walk and the field reads run
// on it unchanged, without a cache lookup per field; a read outside it fails.
class ByteWindow {
 public:
  ByteWindow(std::uint64_t begin, std::span<const std::uint8_t> bytes)
      : begin_(begin), end_(begin + bytes.size()), bytes_(bytes) {}

  // Where its bytes begin and end in the source.
  std::uint64_t begin() const { return begin_; }
  std::uint64_t end() const { return end_; }

  bool read(std::uint64_t offset, std::span<std::uint8_t> out) const {
    const std::uint64_t into = offset - begin_;  // wraps for offsets before it
    if (into > bytes_.size() || out.size() > bytes_.size() - into) return false;
    return readWithin(offset, out);
  }
  // A read that the caller has kept inside [begin(), end()).
  bool readWithin(std::uint64_t offset, std::span<std::uint8_t> out) const {
    std::memcpy(out.data(), bytes_.data() + (offset - begin_), out.size());
    return true;
  }

 private:
  std::uint64_t begin_;
  std::uint64_t end_;
  std::span<const std::uint8_t> bytes_;
};

}  // namespace ostrel::media
