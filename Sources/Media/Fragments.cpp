#include "Fragments.h"

#include <algorithm>
#include <bit>
#include <limits>
#include <utility>

#include "ByteWindow.h"
#include "Fields.h"

namespace ostrel::media {

namespace {

// tfhd flags.
constexpr std::uint32_t kBaseDataOffsetPresent = 0x000001;
constexpr std::uint32_t kDescriptionIndexPresent = 0x000002;
constexpr std::uint32_t kDefaultDurationPresent = 0x000008;
constexpr std::uint32_t kDefaultSizePresent = 0x000010;
constexpr std::uint32_t kDefaultFlagsPresent = 0x000020;
constexpr std::uint32_t kDefaultBaseIsMoof = 0x020000;
constexpr std::uint32_t kOptionalHeaderFields = kBaseDataOffsetPresent | kDescriptionIndexPresent |
                                                kDefaultDurationPresent | kDefaultSizePresent | kDefaultFlagsPresent;

// trun flags.
constexpr std::uint32_t kDataOffsetPresent = 0x000001;
constexpr std::uint32_t kFirstSampleFlagsPresent = 0x000004;
constexpr std::uint32_t kSampleDurationPresent = 0x000100;
constexpr std::uint32_t kSampleSizePresent = 0x000200;
constexpr std::uint32_t kPerSampleFields = 0x000F00;

// tfhd: what a track fragment's header says. Optional fields follow the track
// ID in flag order, and the flags say which are there; a header too short for
// the fields its flags name is no header.
struct Header {
  std::uint32_t flags = 0;
  std::uint32_t trackId = 0;
  std::uint64_t baseDataOffset = 0;
  std::uint32_t descriptionIndex = 0;
  std::uint32_t sampleSize = 0;
};

// Fills `header`; false when the box holds none.
template <typename Bytes>
bool readHeader(const Bytes& bytes, const Box& box, Header& header) {
  BasicFields<Bytes> fields(bytes, box);
  const std::optional<std::uint64_t> start = fields.u64();  // version and flags, then the track ID
  if (!start) return false;
  header = {.flags = static_cast<std::uint32_t>(*start >> 32) & 0xFFFFFF,
            .trackId = static_cast<std::uint32_t>(*start)};
  if ((header.flags & kOptionalHeaderFields) == 0) return true;
  if ((header.flags & kBaseDataOffsetPresent) != 0) header.baseDataOffset = fields.u64().value_or(0);
  if ((header.flags & kDescriptionIndexPresent) != 0) header.descriptionIndex = fields.u32().value_or(0);
  if ((header.flags & kDefaultDurationPresent) != 0) fields.skip(4);
  if ((header.flags & kDefaultSizePresent) != 0) header.sampleSize = fields.u32().value_or(0);
  if ((header.flags & kDefaultFlagsPresent) != 0) fields.skip(4);
  return fields.ok();
}

// base + offset, nothing when it leaves the range of offsets.
std::optional<std::uint64_t> offsetFrom(std::uint64_t base, std::int32_t offset) {
  const std::uint64_t magnitude = offset < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(offset)
                                             : static_cast<std::uint64_t>(offset);
  if (offset < 0) return base >= magnitude ? std::optional(base - magnitude) : std::nullopt;
  return magnitude <= std::numeric_limits<std::uint64_t>::max() - base ? std::optional(base + magnitude)
                                                                       : std::nullopt;
}

// What one walk over a track fragment's children finds.
struct Contents {
  bool hasHeader = false;  // the first tfhd is whole
  Header header;
  bool hasRuns = false;
  bool claimsSamples = false;  // some run claims at least one sample
};

template <typename Bytes>
void readContents(const Bytes& bytes, const Box& trackFragment, Contents& contents) {
  // The header is left as it was until one is read.
  contents.hasHeader = contents.hasRuns = contents.claimsSamples = false;
  bool headerSeen = false;
  BasicChildBoxes<Bytes> children(bytes, trackFragment);
  while (const std::optional<Box> child = children.next()) {
    if (child->type == fourCC("tfhd") && !headerSeen) {
      headerSeen = true;
      contents.hasHeader = readHeader(bytes, *child, contents.header);
    }
    if (child->type != fourCC("trun")) continue;
    contents.hasRuns = true;
    if (!contents.claimsSamples) {
      BasicFields<Bytes> fields(bytes, *child);
      // Version and flags, then the sample count.
      contents.claimsSamples = static_cast<std::uint32_t>(fields.u64().value_or(0)) > 0;
    }
  }
}

// A track fragment that has runs, and where their data starts.
struct PlacedFragment {
  Header header;
  std::uint64_t base = 0;
  Box box;
};

// The fragment with its track's defaults for what its header leaves out;
// looked up only for fragments that are kept or measured.
TrackFragment withDefaults(const FragmentDefaultsTable& defaultsTable, const PlacedFragment& placed) {
  const Header& header = placed.header;
  const bool complete = (header.flags & kDescriptionIndexPresent) != 0 && (header.flags & kDefaultSizePresent) != 0;
  const FragmentDefaults defaults = complete ? FragmentDefaults{} : defaultsTable.find(header.trackId);
  return {.trackId = header.trackId,
          .descriptionIndex =
              (header.flags & kDescriptionIndexPresent) != 0 ? header.descriptionIndex : defaults.descriptionIndex,
          .defaultSize = (header.flags & kDefaultSizePresent) != 0 ? header.sampleSize : defaults.sampleSize,
          .base = placed.base,
          .childrenBegin = placed.box.payload(),
          .childrenEnd = placed.box.end()};
}

}  // namespace

FragmentDefaultsTable::FragmentDefaultsTable(const ByteReader& movieReader, const Box& movie) {
  const std::optional<Box> extends = findChild(movieReader, movie, fourCC("mvex"));
  if (!extends) return;
  // trex: full box header, track ID, description index, duration, size, flags.
  ChildBoxes children(movieReader, *extends);
  while (std::optional<Box> child = children.next()) {
    if (child->type != fourCC("trex")) continue;
    Fields fields(movieReader, *child);
    const bool header = FullBoxHeader::read(fields).has_value();
    const std::optional<std::uint32_t> trackId = fields.u32();
    const std::optional<std::uint32_t> descriptionIndex = fields.u32();
    fields.skip(4);
    const std::optional<std::uint32_t> size = fields.u32();
    if (!header || !fields.u32() || !trackId) continue;
    byTrack_.push_back({*trackId, {.descriptionIndex = *descriptionIndex, .sampleSize = *size}});
  }
  std::stable_sort(byTrack_.begin(), byTrack_.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
}

FragmentDefaults FragmentDefaultsTable::find(std::uint32_t trackId) const {
  const auto found = std::lower_bound(byTrack_.begin(), byTrack_.end(), trackId,
                                      [](const auto& entry, std::uint32_t id) { return entry.first < id; });
  return found != byTrack_.end() && found->first == trackId ? found->second : FragmentDefaults{};
}

FragmentIndex::FragmentIndex(const ByteReader& file, std::uint64_t firstFragment,
                             FragmentDefaultsTable defaults, std::span<const std::uint32_t> chosen)
    : file_(&file),
      // Media data between fragments is passed over by its header.
      topLevel_(file, firstFragment, file.size(), ChildBoxes::Level::Top),
      defaults_(std::move(defaults)) {
  for (const std::uint32_t trackId : chosen) chains_.push_back({.trackId = trackId});
}

bool FragmentIndex::indexNextMovieFragment() {
  std::optional<Box> movieFragment;
  while (!movieFragment) {
    const std::optional<Box> box = topLevel_.next();
    if (!box) return false;
    if (box->type == fourCC("moof")) movieFragment = box;
  }
  if (movieFragment->payloadSize() < 8) return true;  // no room for a track fragment
  if (movieFragment->size <= kMovieFragmentInMemory) {
    movieFragmentBytes_.resize(movieFragment->size);
    if (file_->read(movieFragment->offset, movieFragmentBytes_)) {
      indexTrackFragments(ByteWindow(movieFragment->offset, movieFragmentBytes_), *movieFragment);
      return true;
    }
  }
  indexTrackFragments(*file_, *movieFragment);
  return true;
}

template <typename Bytes>
void FragmentIndex::indexTrackFragments(const Bytes& bytes, const Box& movieFragment) {
  // A track fragment that names no base of its own starts where the data of
  // the last one before it that has runs ended, whatever its track; at the
  // `moof` when there is none. That end is worked out only when needed.
  std::optional<std::uint64_t> implicitBase = movieFragment.offset;
  // A plain flag beside it, not an optional: GCC cannot follow an optional
  // of this size through the loop and warns of a read before it is set.
  PlacedFragment lastWithRuns;
  bool hasLastWithRuns = false;
  Contents contents;
  BasicChildBoxes<Bytes> children(bytes, movieFragment);
  while (const std::optional<Box> box = children.next()) {
    if (box->type != fourCC("traf")) continue;
    readContents(bytes, *box, contents);
    const Header& header = contents.header;
    std::optional<std::uint64_t> base;
    if (contents.hasHeader && (header.flags & kBaseDataOffsetPresent) != 0) {
      base = header.baseDataOffset;
    } else if (contents.hasHeader && (header.flags & kDefaultBaseIsMoof) != 0) {
      base = movieFragment.offset;
    } else if (contents.hasHeader) {
      if (hasLastWithRuns) implicitBase = FragmentRuns(*file_, withDefaults(defaults_, lastWithRuns)).dataEnd();
      hasLastWithRuns = false;
      base = implicitBase;
    }
    if (!contents.hasRuns) continue;
    if (!base) {
      // Runs whose data cannot be placed; nor can the data of whatever follows.
      implicitBase.reset();
      hasLastWithRuns = false;
      continue;
    }
    lastWithRuns = {header, *base, *box};
    hasLastWithRuns = true;
    if (!contents.claimsSamples) continue;
    if (Chain* chain = chainOf(header.trackId)) add(*chain, withDefaults(defaults_, lastWithRuns));
  }
}

FragmentIndex::Chain* FragmentIndex::chainOf(std::uint32_t trackId) {
  const auto chain = std::lower_bound(chains_.begin(), chains_.end(), trackId,
                                      [](const Chain& c, std::uint32_t id) { return c.trackId < id; });
  return chain != chains_.end() && chain->trackId == trackId ? &*chain : nullptr;
}

void FragmentIndex::add(Chain& chain, const TrackFragment& fragment) {
  const std::size_t index = fragments_.size();
  fragments_.push_back(fragment);
  if (chain.last) fragments_[*chain.last].nextOfTrack = index;
  if (!chain.first) chain.first = index;
  chain.last = index;
}

std::optional<std::size_t> FragmentIndex::next(std::uint32_t trackId, std::optional<std::size_t> previous) {
  const Chain* chain = chainOf(trackId);
  if (chain == nullptr) return std::nullopt;
  for (;;) {
    const std::optional<std::size_t> found = previous ? fragments_[*previous].nextOfTrack : chain->first;
    if (found || complete_) return found;
    complete_ = !indexNextMovieFragment();
  }
}

std::optional<std::uint64_t> FragmentIndex::findFirst(const ByteReader& file, std::uint64_t from) {
  ChildBoxes topLevel(file, from, file.size(), ChildBoxes::Level::Top);
  while (const std::optional<Box> box = topLevel.next()) {
    if (box->type == fourCC("moof")) return box->offset;
  }
  return std::nullopt;
}

FragmentRuns::FragmentRuns(const ByteReader& file, const TrackFragment& fragment)
    : file_(&file),
      children_(file, fragment.childrenBegin, fragment.childrenEnd),
      base_(fragment.base),
      descriptionIndex_(fragment.descriptionIndex),
      defaultSize_(fragment.defaultSize) {}

std::optional<std::uint64_t> FragmentRuns::implicitStart() const {
  if (previousUnknown_) return std::nullopt;
  if (!previous_) return base_;
  return previous_->dataEnd(*file_);
}

std::optional<SampleRun> FragmentRuns::next() {
  while (const std::optional<Box> box = children_.next()) {
    if (box->type != fourCC("trun")) continue;
    // trun: full box header, sample count, the optional data offset and first
    // sample flags, then one record of the per-sample fields for each sample.
    Fields fields(*file_, *box);
    const std::optional<FullBoxHeader> header = FullBoxHeader::read(fields);
    const std::optional<std::uint32_t> claimed = fields.u32();
    const std::uint32_t flags = header ? header->flags : 0;
    std::optional<std::uint64_t> start = implicitStart();
    if ((flags & kDataOffsetPresent) != 0) {
      const std::optional<std::uint32_t> stored = fields.u32();
      start = stored ? offsetFrom(base_, static_cast<std::int32_t>(*stored)) : std::nullopt;
    }
    if ((flags & kFirstSampleFlagsPresent) != 0) fields.skip(4);
    if (!fields.ok() || !start) {
      previous_.reset();
      previousUnknown_ = true;
      continue;
    }

    SampleRun run{.descriptionIndex = descriptionIndex_,
                  .dataOffset = *start,
                  .count = *claimed,
                  .sizes = SampleSizes::all(defaultSize_)};
    const std::uint64_t recordSize = 4u * static_cast<unsigned>(std::popcount(flags & kPerSampleFields));
    if (recordSize > 0) run.count = std::min<std::uint64_t>(*claimed, fields.remaining() / recordSize);
    if ((flags & kSampleSizePresent) != 0) {
      const std::uint64_t sizeField = (flags & kSampleDurationPresent) != 0 ? 4 : 0;
      run.sizes = SampleSizes::table(fields.position() + sizeField, 32, recordSize);
    }
    previous_ = run;
    previousUnknown_ = false;
    return run;
  }
  return std::nullopt;
}

std::optional<std::uint64_t> FragmentRuns::dataEnd() {
  while (next()) {
  }
  return implicitStart();
}

}  // namespace ostrel::media
