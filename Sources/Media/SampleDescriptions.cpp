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

}  // namespace

SampleDescriptions::SampleDescriptions(const ByteReader& reader,
                                       const std::optional<Box>& descriptions,
                                       const std::optional<Box>& dataReferences) {
  if (!descriptions) return;
  if (dataReferences) {
    forEachEntryBox(reader, *dataReferences, [&](const Box& entry) {
      Fields fields(reader, entry);
      const std::optional<FullBoxHeader> header = FullBoxHeader::read(fields);
      dataReferences_.push_back({entry.type, header && (header->flags & kSelfContained) != 0, entry});
    });
  }
  // Each entry: six reserved bytes, the data reference index, then the format's own fields.
  forEachEntryBox(reader, *descriptions, [&](const Box& entry) {
    Fields fields(reader, entry);
    const std::uint16_t referenceIndex = fields.skip(6) ? fields.u16().value_or(0) : 0;
    const DataReference* reference = findDataReference(referenceIndex);
    const bool inThisFile = !dataReferences || (reference != nullptr && reference->inThisFile);
    descriptions_.push_back({entry.type, referenceIndex, inThisFile, entry});
  });
}

const SampleDescriptions::Description* SampleDescriptions::find(std::uint32_t index) const {
  if (index < 1 || index > descriptions_.size()) return nullptr;
  return &descriptions_[index - 1];
}

const SampleDescriptions::DataReference* SampleDescriptions::findDataReference(std::uint16_t index) const {
  if (index < 1 || index > dataReferences_.size()) return nullptr;
  return &dataReferences_[index - 1];
}

}  // namespace ostrel::media
