#include "SampleTable.h"

#include <algorithm>

namespace ostrel::media {

EntryTable EntryTable::in(const ByteReader& reader, const Box& box, std::uint64_t width) {
  constexpr std::uint64_t kHeader = kFullBoxHeader + 4;
  if (box.payloadSize() < kHeader) return {};
  const std::uint64_t claimed = reader.u32(box.payload() + kFullBoxHeader).value_or(0);
  const std::uint64_t room = (box.payloadSize() - kHeader) / width;
  return {box.payload() + kHeader, std::min(claimed, room), width};
}

namespace {

// stsz: full box header, a size for every sample (0 when each has its own), the count.
std::pair<SampleSizes, std::uint64_t> readSampleSizes(const ByteReader& reader, const Box& box) {
  constexpr std::uint64_t kHeader = kFullBoxHeader + 8;
  if (box.payloadSize() < kHeader) return {};
  const std::uint32_t common = reader.u32(box.payload() + kFullBoxHeader).value_or(0);
  const std::uint64_t claimed = reader.u32(box.payload() + kFullBoxHeader + 4).value_or(0);
  if (common != 0) return {SampleSizes::all(common), claimed};
  const std::uint64_t room = (box.payloadSize() - kHeader) / 4;
  return {SampleSizes{std::nullopt, box.payload() + kHeader, 32, 4, 0}, std::min(claimed, room)};
}

// stz2: full box header, 24 reserved bits, the field width, the count, the packed fields.
std::pair<SampleSizes, std::uint64_t> readCompactSampleSizes(const ByteReader& reader,
                                                             const Box& box) {
  constexpr std::uint64_t kHeader = kFullBoxHeader + 8;
  if (box.payloadSize() < kHeader) return {};
  const unsigned bits = reader.u8(box.payload() + kFullBoxHeader + 3).value_or(0);
  if (bits != 4 && bits != 8 && bits != 16) return {};
  const std::uint64_t claimed = reader.u32(box.payload() + kFullBoxHeader + 4).value_or(0);
  // Counts are 32-bit, so a table of more bytes than that holds them all.
  const std::uint64_t bytes = std::min<std::uint64_t>(box.payloadSize() - kHeader, UINT32_MAX);
  const std::uint64_t room = bytes * 8 / bits;
  return {SampleSizes{std::nullopt, box.payload() + kHeader, bits, bits / 8u, 0},
          std::min(claimed, room)};
}

}  // namespace

SampleTable::SampleTable(const ByteReader& reader, const Box& sampleTable) {
  // The first box of each kind counts, as in one walk over the children.
  std::optional<Box> chunkRuns, sizes, compactSizes, offsets32, offsets64;
  ChildBoxes children(reader, sampleTable);
  while (std::optional<Box> child = children.next()) {
    std::optional<Box>* slot = nullptr;
    switch (child->type) {
      case fourCC("stsc"): slot = &chunkRuns; break;
      case fourCC("stsz"): slot = &sizes; break;
      case fourCC("stz2"): slot = &compactSizes; break;
      case fourCC("stco"): slot = &offsets32; break;
      case fourCC("co64"): slot = &offsets64; break;
      default: break;
    }
    if (slot != nullptr && !*slot) *slot = child;
  }
  if (!chunkRuns || !(sizes || compactSizes) || !(offsets32 || offsets64)) return;
  chunkRuns_ = EntryTable::in(reader, *chunkRuns, 12);
  chunkOffsets_ = offsets32 ? EntryTable::in(reader, *offsets32, 4) : EntryTable::in(reader, *offsets64, 8);
  std::tie(sizes_, sampleCount_) =
      sizes ? readSampleSizes(reader, *sizes) : readCompactSampleSizes(reader, *compactSizes);
}

// Makes chunkRun_ the run that covers chunkNumber (1-based). Entries whose first
// chunk does not follow the one before are passed over. False when the table
// cannot be read.
bool SampleTable::advanceChunkRuns(const ByteReader& reader, std::uint64_t chunkNumber) {
  while (nextChunkRun_ < chunkRuns_.count) {
    const std::uint64_t at = chunkRuns_.entryOffset(nextChunkRun_);
    const std::optional<std::uint32_t> first = reader.u32(at);
    if (!first) return false;
    if (*first > chunkNumber) break;
    ++nextChunkRun_;
    if (chunkRun_ && *first <= chunkRun_->firstChunk) continue;
    const std::optional<std::uint32_t> perChunk = reader.u32(at + 4);
    const std::optional<std::uint32_t> description = reader.u32(at + 8);
    if (!perChunk || !description) return false;
    chunkRun_ = ChunkRun{*first, *perChunk, *description};
  }
  return true;
}

std::optional<SampleRun> SampleTable::next(const ByteReader& reader) {
  while (nextChunk_ < chunkOffsets_.count && nextSample_ < sampleCount_) {
    const std::uint64_t chunk = nextChunk_++;
    if (!advanceChunkRuns(reader, chunk + 1)) break;
    if (!chunkRun_) continue;  // chunks before the first run hold no samples
    const std::uint64_t count = std::min<std::uint64_t>(chunkRun_->samplesPerChunk,
                                                        sampleCount_ - nextSample_);
    if (count == 0) continue;
    const std::uint64_t at = chunkOffsets_.entryOffset(chunk);
    std::optional<std::uint64_t> offset = reader.u64(at);
    if (chunkOffsets_.width == 4) offset = reader.u32(at);
    if (!offset) break;
    SampleRun run{chunkRun_->descriptionIndex, *offset, count, sizes_.from(nextSample_)};
    nextSample_ += count;
    return run;
  }
  nextChunk_ = chunkOffsets_.count;
  return std::nullopt;
}

}  // namespace ostrel::media
