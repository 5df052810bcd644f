#pragma once

#include <cstdint>
#include <optional>

#include "Box.h"
#include "ByteReader.h"
#include "SampleRun.h"

namespace ostrel::media {

// A track's defaults for its fragments, from `mvex`/`trex`.
struct FragmentDefaults {
  std::uint32_t descriptionIndex = 0;
  std::uint32_t sampleSize = 0;

  static FragmentDefaults find(const ByteReader& reader, const Box& movie, std::uint32_t trackId);
};

// The runs (`trun`) of one track fragment (`traf`), with their data offsets
// worked out from the fragment header (`tfhd`).
class TrackFragment {
 public:
  static constexpr std::uint32_t kBaseDataOffsetPresent = 0x000001;
  static constexpr std::uint32_t kDefaultBaseIsMoof = 0x020000;

  struct Header {
    std::uint32_t flags = 0;
    std::uint32_t trackId = 0;
    std::uint64_t baseDataOffset = 0;
    std::optional<std::uint32_t> descriptionIndex;
    std::optional<std::uint32_t> sampleSize;

    static std::optional<Header> read(const ByteReader& reader, const Box& trackFragment);
    bool hasOwnBase() const { return (flags & (kBaseDataOffsetPresent | kDefaultBaseIsMoof)) != 0; }
  };

  // implicitBase: where this fragment's data starts when its header says
  // neither an offset nor that the base is the enclosing `moof`.
  TrackFragment(const ByteReader& reader, const Box& trackFragment, const Header& header,
                const Box& movieFragment, std::uint64_t implicitBase,
                const FragmentDefaults& defaults);

  std::optional<SampleRun> next(const ByteReader& reader);

  // Where the data of the last run ends, reading every run that is left.
  std::optional<std::uint64_t> dataEnd(const ByteReader& reader);

 private:
  ChildBoxes children_;
  std::uint64_t base_;
  std::uint32_t descriptionIndex_;
  std::uint32_t defaultSize_;
  std::optional<SampleRun> previous_;
  bool broken_ = false;
};

// The samples of one track held in movie fragments (`moof`) after the movie
// box, in file order. Only box headers are read on the way; of a fragment
// without the track, nothing beyond each `traf`'s header.
class Fragments {
 public:
  Fragments() = default;
  Fragments(const ByteReader& reader, const Box& movie, std::uint32_t trackId);

  std::optional<SampleRun> next(const ByteReader& reader);

 private:
  std::optional<TrackFragment> nextOwnFragment(const ByteReader& reader);
  std::optional<std::uint64_t> dataEndOfFragmentsBefore(const ByteReader& reader,
                                                         std::uint64_t trackFragmentOffset);

  std::optional<Box> movie_;
  std::uint32_t trackId_ = 0;
  FragmentDefaults defaults_;
  ChildBoxes topLevel_;
  std::optional<Box> movieFragment_;
  ChildBoxes trackFragments_;
  bool firstInMovieFragment_ = true;
  // The data end of the track fragments in this `moof` before knownEndBefore_,
  // kept so that each is summed once.
  std::uint64_t knownEndBefore_ = 0;
  std::optional<std::uint64_t> knownEnd_;
  std::optional<TrackFragment> current_;
};

}  // namespace ostrel::media
