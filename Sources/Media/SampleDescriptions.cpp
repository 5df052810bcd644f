#include "SampleDescriptions.h"

namespace ostrel::media {

namespace {

constexpr std::uint64_t kListHeader = kFullBoxHeader + 4;  // then the entry count
constexpr std::uint32_t kSelfContained = 0x000001;

// Which data references point into this file. Without a `dref` every sample is here.
class DataReferences {
 public:
  DataReferences(const ByteReader& reader, const std::optional<Box>& references, std::size_t limit)
      : present_(references.has_value()) {
    if (!references || references->payloadSize() < kListHeader) return;
    const std::uint64_t claimed = reader.u32(references->payload() + kFullBoxHeader).value_or(0);
    ChildBoxes entries(reader, *references, kListHeader);
    while (inThisFile_.size() < std::min<std::uint64_t>(claimed, limit)) {
      const std::optional<Box> entry = entries.next();
      if (!entry) break;
      const std::optional<std::uint32_t> versionAndFlags =
          entry->payloadSize() >= 4 ? reader.u32(entry->payload()) : std::nullopt;
      inThisFile_.push_back(versionAndFlags && (*versionAndFlags & kSelfContained) != 0);
    }
  }

  bool inThisFile(std::uint16_t index) const {
    if (!present_) return true;
    return index >= 1 && index <= inThisFile_.size() && inThisFile_[index - 1];
  }

 private:
  bool present_;
  std::vector<bool> inThisFile_;
};

}  // namespace

SampleDescriptions::SampleDescriptions(const ByteReader& reader, const Box& media) {
  const std::optional<Box> sampleTable =
      findPath(reader, media, fourCC("minf"), fourCC("stbl"), fourCC("stsd"));
  if (!sampleTable || sampleTable->payloadSize() < kListHeader) return;
  const DataReferences references(
      reader, findPath(reader, media, fourCC("minf"), fourCC("dinf"), fourCC("dref")), kMaxEntries);

  // Each entry: size, format, six reserved bytes, data reference index.
  constexpr std::uint64_t kReferenceIndexOffset = 6;
  const std::uint64_t claimed = reader.u32(sampleTable->payload() + kFullBoxHeader).value_or(0);
  ChildBoxes entries(reader, *sampleTable, kListHeader);
  while (descriptions_.size() < std::min<std::uint64_t>(claimed, kMaxEntries)) {
    const std::optional<Box> entry = entries.next();
    if (!entry) break;
    std::uint16_t referenceIndex = 0;
    if (entry->payloadSize() >= kReferenceIndexOffset + 2) {
      referenceIndex = reader.u16(entry->payload() + kReferenceIndexOffset).value_or(0);
    }
    descriptions_.push_back({entry->type, references.inThisFile(referenceIndex)});
  }
}

const SampleDescriptions::Description* SampleDescriptions::find(std::uint32_t index) const {
  if (index < 1 || index > descriptions_.size()) return nullptr;
  return &descriptions_[index - 1];
}

}  // namespace ostrel::media
