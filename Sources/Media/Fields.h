#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "Box.h"
#include "ByteReader.h"

namespace ostrel::media {

// Reads the fields of one box, or of one entry of a table, in order. A read
// that would pass the end fails, and so does every read after it, so a parser
// cannot stray into the next box whatever its arithmetic. Bytes is a
// ByteReader, or a ByteView such as a window of bytes already in memory.
template <typename Bytes>
class BasicFields {
 public:
  // The range is clipped to the bytes there are, so that each read inside it
  // needs no check of its own.
  BasicFields(const Bytes& bytes, std::uint64_t begin, std::uint64_t end)
      : bytes_(&bytes), position_(begin), end_(clippedEnd(bytes, begin, end)) {}
  // The payload of a box.
  BasicFields(const Bytes& bytes, const Box& box) : BasicFields(bytes, box.payload(), box.end()) {}

  std::optional<std::uint8_t> u8() { return take<std::uint8_t>(); }
  std::optional<std::uint16_t> u16() { return take<std::uint16_t>(); }
  std::optional<std::uint32_t> u32() { return take<std::uint32_t>(); }
  std::optional<std::uint64_t> u64() { return take<std::uint64_t>(); }
  bool skip(std::uint64_t count) {
    if (end_ - position_ < count) return fail();
    position_ += count;
    return true;
  }

  // False once a read has failed.
  bool ok() const { return !failed_; }

  // The offset of the next field, and the bytes left after it.
  std::uint64_t position() const { return position_; }
  std::uint64_t remaining() const { return end_ - position_; }

 private:
  template <typename Int>
  std::optional<Int> take() {
    std::array<std::uint8_t, sizeof(Int)> bytes;
    if (end_ - position_ < sizeof(Int) || !bytes_->readWithin(position_, bytes)) {
      fail();
      return std::nullopt;
    }
    position_ += sizeof(Int);
    return loadBigEndian<Int>(bytes.data());
  }
  // No bytes are left after a failed read, so every later one fails too.
  bool fail() {
    failed_ = true;
    end_ = position_;
    return false;
  }

  const Bytes* bytes_;
  std::uint64_t position_;
  std::uint64_t end_;
  bool failed_ = false;
};

using Fields = BasicFields<ByteReader>;

// The version and flags that open a full box.
struct FullBoxHeader {
  std::uint8_t version = 0;
  std::uint32_t flags = 0;

  template <typename Bytes>
  static std::optional<FullBoxHeader> read(BasicFields<Bytes>& fields) {
    const std::optional<std::uint32_t> versionAndFlags = fields.u32();
    if (!versionAndFlags) return std::nullopt;
    return FullBoxHeader{static_cast<std::uint8_t>(*versionAndFlags >> 24), *versionAndFlags & 0xFFFFFF};
  }
};

// A full box that holds an entry count and then its entries: the count as
// stored, and the bytes where the entries lie.
struct CountedEntries {
  std::uint32_t count = 0;
  std::uint64_t begin = 0;
  std::uint64_t end = 0;

  static std::optional<CountedEntries> read(const ByteReader& reader, const Box& box);
};

// Entries of a fixed width, kept only as far as the bytes really hold them.
struct EntryTable {
  std::uint64_t offset = 0;
  std::uint64_t count = 0;
  std::uint64_t width = 0;

  static EntryTable of(const CountedEntries& entries, std::uint64_t width);
  // A full box of counted fixed-width entries; empty when the box is too short.
  static EntryTable in(const ByteReader& reader, const Box& box, std::uint64_t width);

  // The fields of entry `index`, which must be below count.
  Fields entry(const ByteReader& reader, std::uint64_t index) const {
    const std::uint64_t at = offset + index * width;
    return Fields(reader, at, at + width);
  }
};

}  // namespace ostrel::media
