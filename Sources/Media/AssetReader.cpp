#include "AssetReader.h"

#include <algorithm>
#include <cstring>

namespace ostrel::media {

namespace {

std::uint32_t trackIdOf(const ByteReader& reader, const Box& track) {
  // tkhd: version 1 keeps 64-bit creation and modification times before the ID.
  const std::optional<Box> header = findChild(reader, track, fourCC("tkhd"));
  if (!header) return 0;
  const std::uint8_t version = reader.u8(header->payload()).value_or(0);
  const std::uint64_t at = kFullBoxHeader + (version == 1 ? 16 : 8);
  if (header->payloadSize() < at + 4) return 0;
  return reader.u32(header->payload() + at).value_or(0);
}

}  // namespace

DataBlock::DataBlock(std::span<const std::uint8_t> prefix, std::uint64_t totalLength)
    : held_(std::min(prefix.size(), kMaxHeldBytes)), totalLength_(totalLength) {
  std::memcpy(bytes_.data(), prefix.data(), held_);
}

DataBlock::Pointer DataBlock::dataPointer(std::size_t offset) const {
  if (offset >= held_) return {};
  return {0, bytes_.data() + offset, held_ - offset, totalLength_};
}

void TrackOutput::start(const Asset& asset) {
  reader_ = &asset.reader();
  const Box& trak = track_.box();
  if (const std::optional<Box> media = findChild(*reader_, trak, fourCC("mdia"))) {
    descriptions_ = SampleDescriptions(*reader_, *media);
    if (const std::optional<Box> table = findPath(*reader_, *media, fourCC("minf"), fourCC("stbl"))) {
      sampleTable_ = SampleTable(*reader_, *table);
    }
  }
  if (asset.movie()) {
    if (const std::uint32_t trackId = trackIdOf(*reader_, trak); trackId != 0) {
      fragments_ = Fragments(*reader_, *asset.movie(), trackId);
    }
  }
}

bool TrackOutput::nextRun() {
  std::optional<SampleRun> run = sampleTable_.next(*reader_);
  if (!run) run = fragments_.next(*reader_);
  if (!run) return false;
  run_ = *run;
  runPosition_ = 0;
  nextDataOffset_ = run_.dataOffset;
  runDescription_ = descriptions_.find(run_.descriptionIndex);
  // A run without a description, kept in another file, or of samples of no
  // bytes has nothing to deliver.
  if (runDescription_ == nullptr || !runDescription_->dataInThisFile ||
      run_.sizes.constant == 0u || !reader_->contains(run_.dataOffset, 1)) {
    run_.count = 0;
  }
  return true;
}

std::optional<Sample> TrackOutput::copyNextSample() {
  if (reader_ == nullptr) return std::nullopt;
  for (;;) {
    if (runPosition_ >= run_.count) {
      if (!nextRun()) break;
      continue;
    }
    const std::optional<std::uint32_t> size = run_.sizes.at(*reader_, runPosition_++);
    if (!size) {
      run_.count = 0;
      continue;
    }
    if (*size == 0) continue;
    const std::uint64_t offset = nextDataOffset_;
    if (!reader_->contains(offset, *size)) {
      // Offsets only grow within a run: the rest lies past the end too.
      run_.count = 0;
      continue;
    }
    nextDataOffset_ = offset + *size;

    std::array<std::uint8_t, DataBlock::kMaxHeldBytes> prefix{};
    const std::size_t held = std::min<std::uint64_t>(*size, prefix.size());
    if (!reader_->read(offset, {prefix.data(), held})) break;  // cut short while reading
    return Sample(DataBlock({prefix.data(), held}, *size),
                  FormatDescription(runDescription_->format));
  }
  reader_ = nullptr;
  return std::nullopt;
}

std::optional<AssetReader> AssetReader::create(const Asset& asset) {
  if (!asset.isReadable()) return std::nullopt;
  return AssetReader(asset);
}

TrackOutput& AssetReader::addOutput(TrackOutput output) {
  outputs_.push_back(std::move(output));
  return outputs_.back();
}

bool AssetReader::startReading() {
  for (TrackOutput& output : outputs_) output.start(*asset_);
  return true;
}

}  // namespace ostrel::media
