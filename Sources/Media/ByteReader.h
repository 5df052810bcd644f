#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>

#include "BigEndian.h"
#include "ByteSource.h"

namespace ostrel::media {

// Reads exact byte ranges and big-endian fields from a source through a small
// cache of aligned blocks, so that neighbouring box headers and table entries
// cost one positioned read between them. Every read is checked against the
// source's size; a field that is not wholly there reads as nothing.
class ByteReader {
 public:
  explicit ByteReader(std::unique_ptr<ByteSource> source);

  std::uint64_t size() const { return size_; }
  // Where its bytes begin and end, as for any bytes the box walk reads.
  std::uint64_t begin() const { return 0; }
  std::uint64_t end() const { return size_; }

  // True when all of out was filled from offset onwards.
  bool read(std::uint64_t offset, std::span<std::uint8_t> out) const {
    // Most reads fall in the block the read before them used.
    const std::uint64_t into = offset - recentStart_;  // wraps for offsets before it
    if (into < recentLength_ && out.size() <= recentLength_ - into) {
      std::memcpy(out.data(), recent_ + into, out.size());
      return true;
    }
    return readThroughCache(offset, out);
  }
  // The box walk keeps its reads inside the bytes, but a file may still be
  // cut short since it was opened.
  bool readWithin(std::uint64_t offset, std::span<std::uint8_t> out) const { return read(offset, out); }

  std::optional<std::uint8_t> u8(std::uint64_t offset) const { return field<std::uint8_t>(offset); }
  std::optional<std::uint16_t> u16(std::uint64_t offset) const { return field<std::uint16_t>(offset); }
  std::optional<std::uint32_t> u32(std::uint64_t offset) const { return field<std::uint32_t>(offset); }
  std::optional<std::uint64_t> u64(std::uint64_t offset) const { return field<std::uint64_t>(offset); }

  // True when the bytes [offset, offset + length) lie inside the source.
  bool contains(std::uint64_t offset, std::uint64_t length) const {
    return offset <= size_ && length <= size_ - offset;
  }

 private:
  // A read at a new place fills one aligned block. A read that starts where
  // the last one ended continues a walk through the file, such as the
  // movie's boxes or a run of fragments: it reads twice as far ahead as the
  // last, up to the most a block holds, so a long walk takes few calls.
  static constexpr std::size_t kBlockSize = 4096;
  static constexpr std::size_t kMaxReadAhead = 16 * 1024;
  static constexpr std::size_t kBlockCount = 8;

  struct Block {
    std::uint64_t start = 0;
    std::size_t length = 0;
    std::uint64_t lastUse = 0;
    bool filled = false;
  };

  template <typename Int>
  std::optional<Int> field(std::uint64_t offset) const {
    std::array<std::uint8_t, sizeof(Int)> bytes;
    if (!read(offset, bytes)) return std::nullopt;
    return loadBigEndian<Int>(bytes.data());
  }
  bool readThroughCache(std::uint64_t offset, std::span<std::uint8_t> out) const;
  const std::uint8_t* blockFor(std::uint64_t offset, std::size_t* available) const;

  std::unique_ptr<ByteSource> source_;
  std::uint64_t size_;
  // The cache is state of this reader alone; reading through a const reader fills it.
  mutable std::array<Block, kBlockCount> blocks_{};
  // Left uninitialised, so that only the pages reads fill take memory.
  mutable std::unique_ptr<std::uint8_t[]> storage_;
  mutable std::uint64_t useCounter_ = 0;
  mutable std::uint64_t lastReadEnd_ = 0;
  mutable std::size_t lastReadLength_ = 0;
  // The block the last cache lookup chose. It is the most recently used, so
  // the cache never evicts it while it is remembered here.
  mutable const std::uint8_t* recent_ = nullptr;
  mutable std::uint64_t recentStart_ = 0;
  mutable std::uint64_t recentLength_ = 0;
};

}  // namespace ostrel::media
