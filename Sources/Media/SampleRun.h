#pragma once

#include <cstdint>
#include <optional>

#include "ByteView.h"

namespace ostrel::media {

// Where the sizes of a run's samples come from: one size for all, or a table
// of fields 4, 8, 16 or 32 bits wide, `stride` bytes apart (4-bit fields pack
// two to a byte, the first in the high nibble).
struct SampleSizes {
  std::optional<std::uint32_t> constant;
  std::uint64_t tableOffset = 0;
  unsigned fieldBits = 32;
  std::uint64_t stride = 4;
  std::uint64_t firstEntry = 0;

  static SampleSizes all(std::uint32_t size) { return {.constant = size}; }
  static SampleSizes table(std::uint64_t offset, unsigned fieldBits, std::uint64_t stride) {
    return {.tableOffset = offset, .fieldBits = fieldBits, .stride = stride};
  }

  // The size of the run's sample `index`, nothing when the table is cut short.
  // Tables are clipped to their boxes, so entry positions cannot overflow.
  std::optional<std::uint32_t> at(const ByteView& bytes, std::uint64_t index) const;

  // The same sizes with the first `count` entries behind us.
  SampleSizes from(std::uint64_t count) const {
    SampleSizes rest = *this;
    rest.firstEntry += count;
    return rest;
  }
};

// Consecutive samples stored back to back from dataOffset, all described by
// one sample description. A table-backed run counts no more samples than its
// table holds; a run of one constant size may claim any count.
struct SampleRun {
  std::uint32_t descriptionIndex = 0;  // 1-based, as stored
  std::uint64_t dataOffset = 0;
  std::uint64_t count = 0;
  SampleSizes sizes;

  // Where the data of the last sample ends, its sizes read from
  // `sizeBytes`; nothing when a size cannot be read or the sum overflows.
  std::optional<std::uint64_t> dataEnd(const ByteView& sizeBytes) const;
};

}  // namespace ostrel::media
