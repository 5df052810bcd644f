#include "Fragments.h"

#include <algorithm>
#include <limits>
#include <utility>

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

// How many of the four per-sample fields of a run the flags name; a table,
// since a target without a popcount instruction would call a function.
constexpr unsigned fieldsIn(std::uint32_t fourFlags) {
  constexpr unsigned kFields[16] = {0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4};
  return kFields[fourFlags & 0xF];
}

// Fills `header`; false when the box holds none. A header too short for the
// fields its flags name is no header.
bool readHeader(const ByteView& bytes, const Box& box, TrackFragmentHeader& header) {
  BasicFields<ByteView> fields(bytes, box);
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

// What a walk over a track fragment's children finds: it stops once it has
// met the first header and a run that claims samples.
struct Contents {
  bool hasHeader = false;  // the first tfhd is whole
  TrackFragmentHeader header;
  std::optional<std::uint64_t> runsBegin;  // where the first run starts
  bool claimsSamples = false;  // some run claims at least one sample
};

Contents readContents(const ByteView& bytes, const Box& trackFragment) {
  Contents contents;
  bool headerSeen = false;
  BasicChildBoxes<ByteView> children(bytes, trackFragment);
  while (!(headerSeen && contents.claimsSamples)) {
    const std::optional<Box> child = children.next();
    if (!child) break;
    if (child->type == fourCC("tfhd") && !headerSeen) {
      headerSeen = true;
      contents.hasHeader = readHeader(bytes, *child, contents.header);
    }
    if (child->type != fourCC("trun")) continue;
    if (!contents.runsBegin) contents.runsBegin = child->offset;
    BasicFields<ByteView> fields(bytes, *child);
    // Version and flags, then the sample count.
    contents.claimsSamples = static_cast<std::uint32_t>(fields.u64().value_or(0)) > 0;
  }
  return contents;
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

MovieFragments::MovieFragments(const ByteReader& file, std::uint64_t firstFragment, FragmentDefaultsTable defaults)
    : file_(&file),
      defaults_(std::move(defaults)),
      // Media data between fragments is passed over by its header.
      topLevel_(file, firstFragment, file.size(), ChildBoxes::Level::Top),
      bytes_(file) {}

const FragmentDefaults& MovieFragments::defaultsOf(std::uint32_t trackId) {
  // Most track fragments are of the track before them.
  if (!lastLookedUp_ || lastLookedUp_->first != trackId) lastLookedUp_.emplace(trackId, defaults_.find(trackId));
  return lastLookedUp_->second;
}

std::uint32_t MovieFragments::descriptionIndexOf(const TrackFragment& fragment) {
  const TrackFragmentHeader& header = fragment.header;
  if ((header.flags & kDescriptionIndexPresent) != 0) return header.descriptionIndex;
  return defaultsOf(header.trackId).descriptionIndex;
}

FragmentDefaults MovieFragments::resolve(const TrackFragment& fragment) {
  const TrackFragmentHeader& header = fragment.header;
  return {.descriptionIndex = descriptionIndexOf(fragment),
          .sampleSize = (header.flags & kDefaultSizePresent) != 0 ? header.sampleSize
                                                                  : defaultsOf(header.trackId).sampleSize};
}

bool MovieFragments::nextMovieFragment() {
  for (;;) {
    const std::optional<Box> box = topLevel_.next();
    if (!box) return false;
    if (box->type != fourCC("moof")) continue;
    if (box->payloadSize() < 8) continue;  // no room for a track fragment
    movieFragment_ = box;
    bytes_ = ByteView(*file_);
    if (box->size <= kMovieFragmentInMemory) {
      movieFragmentBytes_.resize(box->size);
      if (file_->read(box->offset, movieFragmentBytes_)) bytes_ = ByteView(box->offset, movieFragmentBytes_);
    }
    trackFragments_ = BasicChildBoxes<ByteView>(bytes_, *box);
    implicitBase_ = box->offset;
    lastWithRuns_.reset();
    return true;
  }
}

const TrackFragment* MovieFragments::next() {
  for (;;) {
    const std::optional<Box> box = trackFragments_.next();
    if (!box) {
      if (!nextMovieFragment()) return nullptr;
      continue;
    }
    if (box->type != fourCC("traf")) continue;
    const Contents contents = readContents(bytes_, *box);
    const TrackFragmentHeader& header = contents.header;
    std::optional<std::uint64_t> base;
    if (contents.hasHeader && (header.flags & kBaseDataOffsetPresent) != 0) {
      base = header.baseDataOffset;
    } else if (contents.hasHeader && (header.flags & kDefaultBaseIsMoof) != 0) {
      base = movieFragment_->offset;
    } else if (contents.hasHeader) {
      if (lastWithRuns_ && !lastDataEnd_) lastDataEnd_ = FragmentRuns(bytes_, *lastWithRuns_, resolve(*lastWithRuns_)).dataEnd();
      if (lastWithRuns_) implicitBase_ = *lastDataEnd_;
      lastWithRuns_.reset();
      base = implicitBase_;
    }
    if (!contents.runsBegin) continue;
    if (!base) {
      // Runs whose data cannot be placed; nor can the data of whatever follows.
      implicitBase_.reset();
      lastWithRuns_.reset();
      continue;
    }
    lastWithRuns_ = TrackFragment{.header = header, .base = *base, .box = *box, .runsBegin = *contents.runsBegin};
    lastDataEnd_.reset();
    if (contents.claimsSamples) return &*lastWithRuns_;
  }
}

void MovieFragments::dataOfLastEndsAt(std::optional<std::uint64_t> end) { lastDataEnd_ = end; }

std::optional<std::uint64_t> MovieFragments::findFirst(const ByteReader& file, std::uint64_t from) {
  ChildBoxes topLevel(file, from, file.size(), ChildBoxes::Level::Top);
  while (const std::optional<Box> box = topLevel.next()) {
    if (box->type == fourCC("moof")) return box->offset;
  }
  return std::nullopt;
}

FragmentRuns::FragmentRuns(const ByteView& bytes, const TrackFragment& fragment, FragmentDefaults defaults)
    : bytes_(&bytes),
      // Nothing before the first run is a run.
      children_(bytes, fragment.runsBegin, fragment.box.end()),
      base_(fragment.base),
      defaults_(defaults) {}

std::optional<std::uint64_t> FragmentRuns::implicitStart() const {
  if (previousUnknown_) return std::nullopt;
  if (!previous_) return base_;
  return previous_->dataEnd(*bytes_);
}

std::optional<SampleRun> FragmentRuns::next() {
  while (const std::optional<Box> box = children_.next()) {
    if (box->type != fourCC("trun")) continue;
    // trun: full box header, sample count, the optional data offset and first
    // sample flags, then one record of the per-sample fields for each sample.
    BasicFields<ByteView> fields(*bytes_, *box);
    const std::optional<std::uint64_t> opening = fields.u64();  // version and flags, then the count
    const std::uint32_t flags = opening ? static_cast<std::uint32_t>(*opening >> 32) & 0xFFFFFF : 0;
    const std::uint32_t claimed = static_cast<std::uint32_t>(opening.value_or(0));
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

    SampleRun run{.descriptionIndex = defaults_.descriptionIndex,
                  .dataOffset = *start,
                  .count = claimed,
                  .sizes = SampleSizes::all(defaults_.sampleSize)};
    const std::uint64_t recordSize = 4u * fieldsIn((flags & kPerSampleFields) >> 8);
    if (recordSize > 0) run.count = std::min<std::uint64_t>(claimed, fields.remaining() / recordSize);
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
