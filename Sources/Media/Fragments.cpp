#include "Fragments.h"

#include <bit>
#include <limits>

namespace ostrel::media {

namespace {

constexpr std::uint32_t kDescriptionIndexPresent = 0x000002;
constexpr std::uint32_t kDefaultDurationPresent = 0x000008;
constexpr std::uint32_t kDefaultSizePresent = 0x000010;
constexpr std::uint32_t kDefaultFlagsPresent = 0x000020;

constexpr std::uint32_t kDataOffsetPresent = 0x000001;
constexpr std::uint32_t kFirstSampleFlagsPresent = 0x000004;
constexpr std::uint32_t kSampleDurationPresent = 0x000100;
constexpr std::uint32_t kSampleSizePresent = 0x000200;
constexpr std::uint32_t kPerSampleFields = 0x000F00;

constexpr std::uint32_t kFlagsMask = 0x00FFFFFF;

}  // namespace

FragmentDefaults FragmentDefaults::find(const ByteReader& reader, const Box& movie,
                                        std::uint32_t trackId) {
  const std::optional<Box> extends = findChild(reader, movie, fourCC("mvex"));
  if (!extends) return {};
  // trex: full box header, track ID, description index, duration, size, flags.
  ChildBoxes children(reader, *extends);
  while (std::optional<Box> child = children.next()) {
    if (child->type != fourCC("trex") || child->payloadSize() < kFullBoxHeader + 20) continue;
    if (reader.u32(child->payload() + 4) != trackId) continue;
    return {reader.u32(child->payload() + 8).value_or(0), reader.u32(child->payload() + 16).value_or(0)};
  }
  return {};
}

std::optional<TrackFragment::Header> TrackFragment::Header::read(const ByteReader& reader,
                                                                 const Box& trackFragment) {
  const std::optional<Box> box = findChild(reader, trackFragment, fourCC("tfhd"));
  if (!box) return std::nullopt;
  const std::optional<std::uint32_t> flags = reader.u32(box->payload());
  const std::optional<std::uint32_t> trackId = reader.u32(box->payload() + 4);
  if (box->payloadSize() < 8 || !flags || !trackId) return std::nullopt;
  Header header{*flags & kFlagsMask, *trackId, 0, std::nullopt, std::nullopt};

  // Optional fields follow in flag order; each must lie inside the box.
  std::uint64_t at = box->payload() + 8;
  const auto field = [&](std::uint32_t flag, std::uint64_t width) -> std::optional<std::uint64_t> {
    if ((header.flags & flag) == 0) return std::nullopt;
    const std::uint64_t here = at;
    at += width;
    if (at > box->end()) return std::nullopt;
    if (width == 8) return reader.u64(here);
    return reader.u32(here);
  };
  if ((header.flags & kBaseDataOffsetPresent) != 0) {
    const std::optional<std::uint64_t> base = field(kBaseDataOffsetPresent, 8);
    if (!base) return std::nullopt;
    header.baseDataOffset = *base;
  }
  header.descriptionIndex = field(kDescriptionIndexPresent, 4);
  field(kDefaultDurationPresent, 4);
  header.sampleSize = field(kDefaultSizePresent, 4);
  field(kDefaultFlagsPresent, 4);
  if (at > box->end()) return std::nullopt;
  return header;
}

TrackFragment::TrackFragment(const ByteReader& reader, const Box& trackFragment,
                             const Header& header, const Box& movieFragment,
                             std::uint64_t implicitBase, const FragmentDefaults& defaults)
    : children_(reader, trackFragment),
      base_(implicitBase),
      descriptionIndex_(header.descriptionIndex.value_or(defaults.descriptionIndex)),
      defaultSize_(header.sampleSize.value_or(defaults.sampleSize)) {
  if ((header.flags & kBaseDataOffsetPresent) != 0) {
    base_ = header.baseDataOffset;
  } else if ((header.flags & kDefaultBaseIsMoof) != 0) {
    base_ = movieFragment.offset;
  }
}

std::optional<SampleRun> TrackFragment::next(const ByteReader& reader) {
  while (!broken_) {
    const std::optional<Box> box = children_.next();
    if (!box) break;
    if (box->type != fourCC("trun") || box->payloadSize() < 8) continue;
    const std::uint32_t flags = reader.u32(box->payload()).value_or(0) & kFlagsMask;
    const std::uint64_t claimed = reader.u32(box->payload() + 4).value_or(0);
    std::uint64_t at = box->payload() + 8;

    // A run's data starts at the base plus its signed offset, else where the
    // previous run's data ended, or at the base for the first run.
    std::optional<std::uint64_t> start = base_;
    if ((flags & kDataOffsetPresent) != 0) {
      const std::optional<std::uint32_t> stored = reader.u32(at);
      at += 4;
      if (!stored) break;
      const std::int64_t offset = static_cast<std::int32_t>(*stored);
      const std::uint64_t magnitude = static_cast<std::uint64_t>(offset < 0 ? -offset : offset);
      if (offset < 0 ? base_ < magnitude : base_ > std::numeric_limits<std::uint64_t>::max() - magnitude) {
        break;
      }
      start = offset < 0 ? base_ - magnitude : base_ + magnitude;
    } else if (previous_) {
      start = previous_->dataEnd(reader);
    }
    if (!start) break;
    if ((flags & kFirstSampleFlagsPresent) != 0) at += 4;
    if (at > box->end()) break;

    const std::uint64_t recordSize = 4u * static_cast<unsigned>(std::popcount(flags & kPerSampleFields));
    SampleRun run{descriptionIndex_, *start, claimed, SampleSizes::all(defaultSize_)};
    if (recordSize > 0) {
      run.count = std::min(claimed, (box->end() - at) / recordSize);
    }
    if ((flags & kSampleSizePresent) != 0) {
      const std::uint64_t sizeField = (flags & kSampleDurationPresent) != 0 ? 4 : 0;
      run.sizes = SampleSizes{std::nullopt, at + sizeField, 32, recordSize, 0};
    }
    previous_ = run;
    return run;
  }
  broken_ = true;
  return std::nullopt;
}

std::optional<std::uint64_t> TrackFragment::dataEnd(const ByteReader& reader) {
  while (next(reader)) {
  }
  if (!previous_) return base_;
  return previous_->dataEnd(reader);
}

Fragments::Fragments(const ByteReader& reader, const Box& movie, std::uint32_t trackId)
    : movie_(movie),
      trackId_(trackId),
      defaults_(FragmentDefaults::find(reader, movie, trackId)),
      topLevel_(reader, movie.end(), reader.size(), ChildBoxes::Level::Top) {}

std::optional<SampleRun> Fragments::next(const ByteReader& reader) {
  for (;;) {
    if (current_) {
      if (std::optional<SampleRun> run = current_->next(reader)) return run;
      current_.reset();
    }
    if (movieFragment_) {
      current_ = nextOwnFragment(reader);
      if (current_) continue;
      movieFragment_.reset();
    }
    // Media data between fragments is passed over by its header.
    const std::optional<Box> box = topLevel_.next();
    if (!box) return std::nullopt;
    if (box->type == fourCC("moof")) {
      movieFragment_ = box;
      trackFragments_ = ChildBoxes(reader, *box);
      firstInMovieFragment_ = true;
      knownEndBefore_ = box->payload();
      knownEnd_ = box->offset;
    }
  }
}

std::optional<TrackFragment> Fragments::nextOwnFragment(const ByteReader& reader) {
  while (std::optional<Box> box = trackFragments_.next()) {
    if (box->type != fourCC("traf")) continue;
    const bool first = firstInMovieFragment_;
    firstInMovieFragment_ = false;
    const std::optional<TrackFragment::Header> header = TrackFragment::Header::read(reader, *box);
    if (!header || header->trackId != trackId_) continue;
    std::optional<std::uint64_t> implicitBase = movieFragment_->offset;
    if (!first && !header->hasOwnBase()) {
      implicitBase = dataEndOfFragmentsBefore(reader, box->offset);
      if (!implicitBase) continue;
    }
    return TrackFragment(reader, *box, *header, *movieFragment_, *implicitBase, defaults_);
  }
  return std::nullopt;
}

// A track fragment that names no base of its own starts where the data of the
// fragment before it in the same `moof` ended, whatever its track.
std::optional<std::uint64_t> Fragments::dataEndOfFragmentsBefore(
    const ByteReader& reader, std::uint64_t trackFragmentOffset) {
  std::optional<std::uint64_t> end = knownEnd_;
  ChildBoxes boxes(reader, knownEndBefore_, movieFragment_->end());
  while (std::optional<Box> box = boxes.next()) {
    if (box->offset >= trackFragmentOffset) break;
    if (box->type != fourCC("traf")) continue;
    const std::optional<TrackFragment::Header> header = TrackFragment::Header::read(reader, *box);
    if (!header || !end) return std::nullopt;
    const FragmentDefaults defaults = header->trackId == trackId_
                                          ? defaults_
                                          : FragmentDefaults::find(reader, *movie_, header->trackId);
    TrackFragment fragment(reader, *box, *header, *movieFragment_, *end, defaults);
    end = fragment.dataEnd(reader);
  }
  knownEndBefore_ = trackFragmentOffset;
  knownEnd_ = end;
  return end;
}

}  // namespace ostrel::media
