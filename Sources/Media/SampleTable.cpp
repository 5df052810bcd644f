#include "SampleTable.h"

#include <algorithm>
#include <utility>

namespace ostrel::media {

namespace {

// stsz: full box header, a size for every sample (0 when each has its own), the count.
std::pair<SampleSizes, std::uint64_t> readSampleSizes(const ByteReader& reader, const Box& box) {
  Fields fields(reader, box);
  if (!FullBoxHeader::read(fields)) return {};
  const std::optional<std::uint32_t> common = fields.u32();
  const std::optional<std::uint32_t> count = fields.u32();
  if (!common || !count) return {};
  if (*common != 0) return {SampleSizes::all(*common), *count};
  return {SampleSizes::table(fields.position(), 32, 4), std::min<std::uint64_t>(*count, fields.remaining() / 4)};
}

// stz2: full box header, 24 reserved bits, the field width, the count, the packed fields.
std::pair<SampleSizes, std::uint64_t> readCompactSampleSizes(const ByteReader& reader,
                                                             const Box& box) {
  Fields fields(reader, box);
  if (!FullBoxHeader::read(fields) || !fields.skip(3)) return {};
  const unsigned bits = fields.u8().value_or(0);
  const std::optional<std::uint32_t> count = fields.u32();
  if ((bits != 4 && bits != 8 && bits != 16) || !count) return {};
  // Counts are 32-bit, so a table of more bytes than that holds them all.
  const std::uint64_t bytes = std::min<std::uint64_t>(fields.remaining(), UINT32_MAX);
  return {SampleSizes::table(fields.position(), bits, bits / 8u),
          std::min<std::uint64_t>(*count, bytes * 8 / bits)};
}

}  // namespace

SampleTable::SampleTable(const ByteReader& reader, const Box& sampleTable) {
  // The first box of each kind counts.
  std::optional<Box> chunkRuns, sizes, compactSizes, offsets32, offsets64;
  ChildBoxes children(reader, sampleTable);
  while (std::optional<Box> child = children.next()) {
    std::optional<Box>* slot = nullptr;
    switch (child->type) {
      case fourCC("stsd"): slot = &descriptions_; break;
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
    Fields entry = chunkRuns_.entry(reader, nextChunkRun_);
    const std::optional<std::uint32_t> first = entry.u32();
    if (!first) return false;
    if (*first > chunkNumber) break;
    ++nextChunkRun_;
    if (chunkRun_ && *first <= chunkRun_->firstChunk) continue;
    const std::optional<std::uint32_t> perChunk = entry.u32();
    const std::optional<std::uint32_t> description = entry.u32();
    if (!perChunk || !description) return false;
    chunkRun_ = ChunkRun{.firstChunk = *first, .samplesPerChunk = *perChunk, .descriptionIndex = *description};
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
    Fields entry = chunkOffsets_.entry(reader, chunk);
    const std::optional<std::uint64_t> offset =
        chunkOffsets_.width == 4 ? std::optional<std::uint64_t>(entry.u32()) : entry.u64();
    if (!offset) break;
    SampleRun run{.descriptionIndex = chunkRun_->descriptionIndex,
                  .dataOffset = *offset,
                  .count = count,
                  .sizes = sizes_.from(nextSample_)};
    nextSample_ += count;
    return run;
  }
  nextChunk_ = chunkOffsets_.count;
  return std::nullopt;
}

std::uint64_t SampleTable::skipChunksLikeTheLast(const ByteReader& reader) {
  if (!chunkRun_) return 0;
  // They end where the next entry that follows this one starts.
  std::uint64_t end = chunkOffsets_.count;  // a chunk index, from 0
  while (nextChunkRun_ < chunkRuns_.count) {
    const std::optional<std::uint32_t> first = chunkRuns_.entry(reader, nextChunkRun_).u32();
    if (!first) break;
    if (*first > chunkRun_->firstChunk) {
      end = std::min<std::uint64_t>(end, *first - 1u);
      break;
    }
    ++nextChunkRun_;
  }
  if (end <= nextChunk_) return 0;
  // Both factors are below 2^32, so the product cannot overflow.
  const std::uint64_t samples = std::min((end - nextChunk_) * chunkRun_->samplesPerChunk, sampleCount_ - nextSample_);
  nextSample_ += samples;
  nextChunk_ = end;
  return samples;
}

}  // namespace ostrel::media
