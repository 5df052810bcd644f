#include "SampleDescriptions.h"

#include "Fields.h"

namespace ostrel::media {

namespace {

constexpr std::uint32_t kSelfContained = 0x000001;

// Calls visit for each entry box of a counted list, as many as the count
// says and the box really holds.
template <typename Visit>
void forEachEntryBox(const ByteReader& reader, const Box& list, Visit visit) {
  const std::optional<CountedEntries> entries = CountedEntries::read(reader, list);
  if (!entries) return;
  ChildBoxes boxes(reader, entries->begin, entries->end);
  for (std::uint32_t i = 0; i < entries->count; ++i) {
    const std::optional<Box> entry = boxes.next();
    if (!entry) break;
    visit(*entry);
  }
}

// Which data references point into this file.
std::vector<bool> readReferencesInThisFile(const ByteReader& reader, const Box& references) {
  std::vector<bool> inThisFile;
  forEachEntryBox(reader, references, [&](const Box& entry) {
    Fields fields(reader, entry);
    const std::optional<FullBoxHeader> header = FullBoxHeader::read(fields);
    inThisFile.push_back(header && (header->flags & kSelfContained) != 0);
  });
  return inThisFile;
}

}  // namespace

SampleDescriptions::SampleDescriptions(const ByteReader& reader,
                                       const std::optional<Box>& descriptions,
                                       const std::optional<Box>& dataReferences) {
  if (!descriptions) return;
  std::vector<bool> referencesInThisFile;
  if (dataReferences) referencesInThisFile = readReferencesInThisFile(reader, *dataReferences);
  const auto inThisFile = [&](std::uint16_t index) {
    if (!dataReferences) return true;
    return index >= 1 && index <= referencesInThisFile.size() && referencesInThisFile[index - 1];
  };
  // Each entry: six reserved bytes, the data reference index, then the format's own fields.
  forEachEntryBox(reader, *descriptions, [&](const Box& entry) {
    Fields fields(reader, entry);
    const std::uint16_t referenceIndex = fields.skip(6) ? fields.u16().value_or(0) : 0;
    descriptions_.push_back({entry.type, inThisFile(referenceIndex)});
  });
}

const SampleDescriptions::Description* SampleDescriptions::find(std::uint32_t index) const {
  if (index < 1 || index > descriptions_.size()) return nullptr;
  return &descriptions_[index - 1];
}

}  // namespace ostrel::media
