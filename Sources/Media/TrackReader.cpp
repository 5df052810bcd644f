#include "TrackReader.h"

#include "Fields.h"

namespace ostrel::media {

TrackReader::TrackReader(const Asset& asset, const Track& track, std::span<const WantedFormat> wanted)
    : asset_(&asset), wanted_(wanted), track_(track) {
  const ByteReader& movie = asset.movieReader();
  // The first box of each kind counts.
  std::optional<Box> sampleTable, dataInformation;
  if (track.mediaInformation) {
    ChildBoxes children(movie, *track.mediaInformation);
    while (std::optional<Box> child = children.next()) {
      if (child->type == fourCC("stbl") && !sampleTable) sampleTable = child;
      if (child->type == fourCC("dinf") && !dataInformation) dataInformation = child;
    }
  }
  if (sampleTable) table_ = SampleTable(movie, *sampleTable);
  descriptions_ = SampleDescriptions(movie, table_.descriptions(),
                                     dataInformation ? findChild(movie, *dataInformation, fourCC("dref")) : std::nullopt);
}

std::optional<std::uint32_t> TrackReader::minimumSizeOf(FourCC format) const {
  if (wanted_.empty()) return 1;
  for (const WantedFormat& wanted : wanted_) {
    if (wanted.format == format) return std::max<std::uint32_t>(wanted.minimumSize, 1);
  }
  return std::nullopt;
}

std::optional<SampleRun> TrackReader::takeRun() {
  if (std::optional<SampleRun> run = table_.next(asset_->movieReader())) {
    runSizes_ = &asset_->movieReader();
    runInTable_ = true;
    return run;
  }
  runSizes_ = &asset_->file();
  runInTable_ = false;
  for (;;) {
    if (fragmentRuns_) {
      if (std::optional<SampleRun> run = fragmentRuns_->next()) return run;
      fragmentRuns_.reset();
    }
    if (fragmentsDone_) return std::nullopt;
    const std::optional<std::size_t> next = asset_->nextFragmentOf(track_, lastFragment_);
    if (!next) {
      fragmentsDone_ = true;
      return std::nullopt;
    }
    fragmentRuns_.emplace(asset_->file(), asset_->fragment(*next));
    lastFragment_ = next;
  }
}

PassedOver TrackReader::passOver(PassOverReason reason, std::uint64_t offset, std::optional<std::uint64_t> size,
                                 std::uint64_t count) const {
  return {.reason = reason,
          .descriptionIndex = run_.descriptionIndex,
          .format = runFormat_,
          .offset = offset,
          .size = size,
          .count = count};
}

bool TrackReader::nextRun() {
  const std::optional<SampleRun> run = takeRun();
  if (!run) return false;
  run_ = *run;
  runPosition_ = 0;
  nextDataOffset_ = run_.dataOffset;
  const SampleDescriptions::Description* description = descriptions_.find(run_.descriptionIndex);
  runFormat_ = description ? description->format : 0;
  std::optional<PassOverReason> reason;
  std::optional<std::uint32_t> minimumSize;
  if (!description) {
    reason = PassOverReason::NoDescription;
  } else if (!description->dataInThisFile) {
    reason = PassOverReason::InAnotherFile;
  } else if (minimumSize = minimumSizeOf(description->format); !minimumSize) {
    reason = PassOverReason::UnwantedFormat;
  } else if (run_.sizes.constant && *run_.sizes.constant < *minimumSize) {
    reason = *run_.sizes.constant == 0 ? PassOverReason::NoBytes : PassOverReason::TooShort;
  }
  if (reason) {
    // Nothing here depends on where the chunk lies: chunks that share its
    // entry in the sample table are no better.
    std::uint64_t count = run_.count;
    if (runInTable_) count += table_.skipChunksLikeTheLast(asset_->movieReader());
    passedOver_ = passOver(*reason, run_.dataOffset, run_.sizes.constant, count);
    run_.count = 0;
    return true;
  }
  if (!asset_->file().contains(run_.dataOffset, *minimumSize)) {
    passedOver_ = passOver(PassOverReason::PastEndOfFile, run_.dataOffset, run_.sizes.constant, run_.count);
    run_.count = 0;
    return true;
  }
  runMinimumSize_ = *minimumSize;
  return true;
}

std::optional<std::variant<Sample, PassedOver>> TrackReader::step() {
  const ByteReader& file = asset_->file();
  while (!done_) {
    if (passedOver_) {
      const PassedOver record = *passedOver_;
      passedOver_.reset();
      return record;
    }
    if (runPosition_ >= run_.count) {
      if (!nextRun()) break;
      continue;
    }
    const std::optional<std::uint32_t> size = run_.sizes.at(*runSizes_, runPosition_++);
    const std::uint64_t offset = nextDataOffset_;
    if (!size || *size > UINT64_MAX - offset) {
      run_.count = 0;
      continue;
    }
    nextDataOffset_ = offset + *size;
    if (*size < runMinimumSize_) {
      return passOver(*size == 0 ? PassOverReason::NoBytes : PassOverReason::TooShort, offset, *size, 1);
    }
    if (!file.contains(offset, *size)) {
      // Offsets only grow within a run: the rest lies past the end too.
      const std::uint64_t left = run_.count - runPosition_ + 1;
      run_.count = 0;
      return passOver(PassOverReason::PastEndOfFile, offset, *size, left);
    }
    Sample sample{.format = runFormat_, .descriptionIndex = run_.descriptionIndex, .offset = offset, .size = *size};
    if (!file.read(offset, {sample.prefix.data(), sample.bytes().size()})) break;  // cut short
    return sample;
  }
  done_ = true;
  return std::nullopt;
}

std::optional<Sample> TrackReader::next() {
  while (std::optional<std::variant<Sample, PassedOver>> step = this->step()) {
    if (const Sample* sample = std::get_if<Sample>(&*step)) return *sample;
  }
  return std::nullopt;
}

}  // namespace ostrel::media
