#pragma once

#include <cstdint>
#include <optional>

#include "Box.h"
#include "ByteReader.h"
#include "SampleRun.h"

namespace ostrel::media {

// Entries of fixed width stored after a full box header and a count. The count
// is kept only as far as the box really holds entries.
struct EntryTable {
  std::uint64_t offset = 0;
  std::uint64_t count = 0;
  std::uint64_t width = 0;

  static EntryTable in(const ByteReader& reader, const Box& box, std::uint64_t width);
  std::uint64_t entryOffset(std::uint64_t index) const { return offset + index * width; }
};

// The samples of a track's sample table (`stbl`), one chunk at a time:
// `stsc` names the samples per chunk and their description, `stsz` or `stz2`
// their sizes and `stco` or `co64` where each chunk starts. Tables are read
// by their entry counts and only as far as the chunks asked for.
class SampleTable {
 public:
  SampleTable() = default;
  SampleTable(const ByteReader& reader, const Box& sampleTable);

  std::optional<SampleRun> next(const ByteReader& reader);

 private:
  struct ChunkRun {
    std::uint32_t firstChunk = 0;
    std::uint32_t samplesPerChunk = 0;
    std::uint32_t descriptionIndex = 0;
  };

  bool advanceChunkRuns(const ByteReader& reader, std::uint64_t chunkNumber);

  EntryTable chunkOffsets_;
  EntryTable chunkRuns_;
  SampleSizes sizes_;
  std::uint64_t sampleCount_ = 0;

  std::uint64_t nextChunk_ = 0;
  std::uint64_t nextSample_ = 0;
  std::uint64_t nextChunkRun_ = 0;
  std::optional<ChunkRun> chunkRun_;
};

}  // namespace ostrel::media
