#include "RunReader.h"

namespace ostrel::media {

std::optional<std::uint32_t> RunReader::minimumSizeOf(FourCC format) const {
  if (wanted_.empty()) return 1;
  for (const WantedFormat& wanted : wanted_) {
    if (wanted.format == format) return std::max<std::uint32_t>(wanted.minimumSize, 1);
  }
  return std::nullopt;
}

PassedOver RunReader::passOver(PassOverReason reason, std::uint64_t offset, std::optional<std::uint64_t> size,
                               std::uint64_t count) const {
  return {.reason = reason,
          .descriptionIndex = run_.descriptionIndex,
          .format = format_,
          .offset = offset,
          .size = size,
          .count = count};
}

std::optional<PassOverReason> RunReader::rejects(const SampleDescriptions::Description* description) const {
  if (!description) return PassOverReason::NoDescription;
  if (!description->dataInThisFile) return PassOverReason::InAnotherFile;
  if (!minimumSizeOf(description->format)) return PassOverReason::UnwantedFormat;
  return std::nullopt;
}

std::optional<PassedOver> RunReader::start(const SampleRun& run, const SampleDescriptions& descriptions,
                                           const ByteView& sizeBytes) {
  run_ = run;
  sizeBytes_ = &sizeBytes;
  position_ = 0;
  nextDataOffset_ = run.dataOffset;
  const SampleDescriptions::Description* description = descriptions.find(run.descriptionIndex);
  format_ = description ? description->format : 0;
  std::optional<PassOverReason> reason = rejects(description);
  if (!reason) {
    minimumSize_ = *minimumSizeOf(description->format);
    if (run.sizes.constant && *run.sizes.constant < minimumSize_) {
      reason = *run.sizes.constant == 0 ? PassOverReason::NoBytes : PassOverReason::TooShort;
    } else if (!file_->contains(run.dataOffset, minimumSize_)) {
      reason = PassOverReason::PastEndOfFile;
    }
  }
  if (!reason) return std::nullopt;
  run_.count = 0;
  return passOver(*reason, run.dataOffset, run.sizes.constant, run.count);
}

std::optional<SampleStep> RunReader::step() {
  while (!failed_ && position_ < run_.count) {
    const std::optional<std::uint32_t> size = run_.sizes.at(*sizeBytes_, position_++);
    const std::uint64_t offset = nextDataOffset_;
    if (!size || *size > UINT64_MAX - offset) break;
    nextDataOffset_ = offset + *size;
    if (*size < minimumSize_) {
      return passOver(*size == 0 ? PassOverReason::NoBytes : PassOverReason::TooShort, offset, *size, 1);
    }
    if (!file_->contains(offset, *size)) {
      // Offsets only grow within a run: the rest lies past the end too.
      const std::uint64_t left = run_.count - position_ + 1;
      run_.count = 0;
      return passOver(PassOverReason::PastEndOfFile, offset, *size, left);
    }
    Sample sample{.format = format_, .descriptionIndex = run_.descriptionIndex, .offset = offset, .size = *size};
    if (!file_->read(offset, {sample.prefix.data(), sample.bytes().size()})) {
      failed_ = true;  // cut short since it was opened
      break;
    }
    return sample;
  }
  run_.count = 0;
  return std::nullopt;
}

}  // namespace ostrel::media
