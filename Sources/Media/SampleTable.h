#pragma once

#include <cstdint>
#include <optional>

#include "Box.h"
#include "ByteReader.h"
#include "Fields.h"
#include "SampleRun.h"

namespace ostrel::media {

// The samples of a track's sample table (`stbl`), one chunk at a time:
// `stsc` names the samples per chunk and their description, `stsz` or `stz2`
// their sizes and `stco` or `co64` where each chunk starts. Tables are read
// by their entry counts and only as far as the chunks asked for.
class SampleTable {
 public:
  SampleTable() = default;
  SampleTable(const ByteReader& reader, const Box& sampleTable);

  // The sample descriptions (`stsd`), found on the same walk.
  const std::optional<Box>& descriptions() const { return descriptions_; }

  std::optional<SampleRun> next(const ByteReader& reader);

  // Passes over the rest of the chunks that share the last run's entry in
  // `stsc`: their samples have the same count and description, so a reader
  // that wants none of the last run wants none of these either. Returns how
  // many samples they held.
  std::uint64_t skipChunksLikeTheLast(const ByteReader& reader);

 private:
  struct ChunkRun {
    std::uint32_t firstChunk = 0;
    std::uint32_t samplesPerChunk = 0;
    std::uint32_t descriptionIndex = 0;
  };

  bool advanceChunkRuns(const ByteReader& reader, std::uint64_t chunkNumber);

  std::optional<Box> descriptions_;
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
