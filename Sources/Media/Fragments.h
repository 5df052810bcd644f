#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <utility>
#include <optional>
#include <span>
#include <vector>

#include "Box.h"
#include "ByteReader.h"
#include "SampleRun.h"

namespace ostrel::media {

// A track's defaults for its fragments, from `mvex`/`trex`.
struct FragmentDefaults {
  std::uint32_t descriptionIndex = 0;
  std::uint32_t sampleSize = 0;
};

// A movie fragment up to this size, as most are, is read in one go and its
// boxes walked in memory; a larger one is walked in the file.
inline constexpr std::uint64_t kMovieFragmentInMemory = 256 * 1024;

// One track fragment (`traf`) of a movie fragment, with where its data starts
// and the defaults its runs use, worked out once.
struct TrackFragment {
  std::uint32_t trackId = 0;
  std::uint32_t descriptionIndex = 0;
  std::uint32_t defaultSize = 0;
  std::uint64_t base = 0;
  // The bytes of the `traf` box's children.
  std::uint64_t childrenBegin = 0;
  std::uint64_t childrenEnd = 0;
  // The same track's next fragment in the index, if any.
  std::optional<std::size_t> nextOfTrack;
};

// A track's fragment defaults for each track ID, from `mvex`: the first
// `trex` of each track counts.
class FragmentDefaultsTable {
 public:
  FragmentDefaultsTable() = default;
  FragmentDefaultsTable(const ByteReader& movieReader, const Box& movie);

  FragmentDefaults find(std::uint32_t trackId) const;

 private:
  std::vector<std::pair<std::uint32_t, FragmentDefaults>> byTrack_;  // by ID
};

// The track fragments of the chosen tracks in the movie fragments (`moof`)
// after the movie box, in file order. The file's top-level boxes are walked
// once, one movie fragment at a time and only as far as a reader asks, so
// that a movie whose answer is in its first fragment reads no further. Every
// track fragment on the way is read, to know where the data of the next one
// starts, but only the chosen tracks' that claim samples are kept: memory
// follows the fragments of those tracks really in the file.
class FragmentIndex {
 public:
  // `chosen` holds the track IDs to keep, sorted.
  FragmentIndex(const ByteReader& file, std::uint64_t firstFragment, FragmentDefaultsTable defaults,
                std::span<const std::uint32_t> chosen);

  // The track's fragment after `previous`, or its first when there is none;
  // nothing when the track has no more.
  std::optional<std::size_t> next(std::uint32_t trackId, std::optional<std::size_t> previous);
  const TrackFragment& at(std::size_t index) const { return fragments_[index]; }

  // Where the first movie fragment after `from` starts, if there is one.
  static std::optional<std::uint64_t> findFirst(const ByteReader& file, std::uint64_t from);

 private:
  // Indexes the next movie fragment; false when there is none.
  bool indexNextMovieFragment();
  template <typename Bytes>
  void indexTrackFragments(const Bytes& bytes, const Box& movieFragment);

  struct Chain {
    std::uint32_t trackId = 0;
    std::optional<std::size_t> first, last;
  };
  // The chosen track's chain; none for a track that was not chosen.
  Chain* chainOf(std::uint32_t trackId);
  void add(Chain& chain, const TrackFragment& fragment);

  const ByteReader* file_;
  ChildBoxes topLevel_;
  bool complete_ = false;
  FragmentDefaultsTable defaults_;
  std::vector<Chain> chains_;  // one for each chosen track, by ID
  // In file order. A deque grows without copying, so a large index never
  // needs twice its memory on the way.
  std::deque<TrackFragment> fragments_;
  std::vector<std::uint8_t> movieFragmentBytes_;  // the one being walked; reused for the next
};

// The runs (`trun`) of one track fragment. A run whose data would start
// outside the addressable range gives nothing; so does a later run that
// starts where such a run would have ended.
class FragmentRuns {
 public:
  FragmentRuns(const ByteReader& file, const TrackFragment& fragment);

  std::optional<SampleRun> next();

  // Where the data of the last run ends, reading every run that is left.
  std::optional<std::uint64_t> dataEnd();

 private:
  // Where a run without a data offset starts: at the base for the first run,
  // else where the previous run's data ended.
  std::optional<std::uint64_t> implicitStart() const;

  const ByteReader* file_;
  ChildBoxes children_;
  std::uint64_t base_;
  std::uint32_t descriptionIndex_;
  std::uint32_t defaultSize_;
  std::optional<SampleRun> previous_;
  bool previousUnknown_ = false;  // the previous run gave nothing
};

}  // namespace ostrel::media
