#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "Box.h"
#include "ByteReader.h"
#include "ByteView.h"
#include "SampleRun.h"

namespace ostrel::media {

// A track's defaults for its fragments, from `mvex`/`trex`.
struct FragmentDefaults {
  std::uint32_t descriptionIndex = 0;
  std::uint32_t sampleSize = 0;
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

// A movie fragment up to this size, as most are, is read in one go and its
// boxes walked in memory; a larger one is walked in the file.
inline constexpr std::uint64_t kMovieFragmentInMemory = 256 * 1024;

// tfhd: what a track fragment's header says. Optional fields follow the track
// ID in flag order, and the flags say which are there.
struct TrackFragmentHeader {
  std::uint32_t flags = 0;
  std::uint32_t trackId = 0;
  std::uint64_t baseDataOffset = 0;
  std::uint32_t descriptionIndex = 0;
  std::uint32_t sampleSize = 0;
};

// One track fragment (`traf`) of a movie fragment, with where its data starts.
struct TrackFragment {
  TrackFragmentHeader header;
  std::uint64_t base = 0;
  Box box;
  std::uint64_t runsBegin = 0;  // where its first run starts, inside the box

  std::uint32_t trackId() const { return header.trackId; }
};

// The track fragments of the movie fragments (`moof`) after the movie box, in
// file order. The file's top-level boxes are walked once, a movie fragment
// at a time and only as far as the caller asks, so that a movie whose answer
// is in its first fragment reads no further and every byte of fragment
// metadata is read once, however many tracks are served. Only the current
// movie fragment is held: memory does not follow their number.
class MovieFragments {
 public:
  MovieFragments(const ByteReader& file, std::uint64_t firstFragment, FragmentDefaultsTable defaults);

  // The next track fragment whose runs claim samples and whose data can be
  // placed; nothing after the last. It stays valid until the next call.
  const TrackFragment* next();

  // The bytes of the movie fragment the last track fragment is in; they stay
  // valid until the next call of next().
  const ByteView& bytes() const { return bytes_; }
  // The fragment's description index and sample size: its header's, or its
  // track's defaults where the header says nothing.
  FragmentDefaults resolve(const TrackFragment& fragment);
  // The same for the description index alone.
  std::uint32_t descriptionIndexOf(const TrackFragment& fragment);
  // Says where the data of the track fragment next() gave last ends, found
  // by reading all its runs, so that the walk need not read them again.
  void dataOfLastEndsAt(std::optional<std::uint64_t> end);

  // Where the first movie fragment after `from` starts, if there is one.
  static std::optional<std::uint64_t> findFirst(const ByteReader& file, std::uint64_t from);

 private:
  // Makes the next movie fragment current; false when there is none.
  bool nextMovieFragment();
  const FragmentDefaults& defaultsOf(std::uint32_t trackId);

  const ByteReader* file_;
  FragmentDefaultsTable defaults_;
  ChildBoxes topLevel_;
  std::vector<std::uint8_t> movieFragmentBytes_;  // the current one when read whole; reused for the next
  ByteView bytes_;
  std::optional<Box> movieFragment_;
  BasicChildBoxes<ByteView> trackFragments_;
  // A track fragment that names no base of its own starts where the data of
  // the last one before it that has runs ended, whatever its track; at the
  // `moof` when there is none. That end is worked out only when needed.
  std::optional<std::uint64_t> implicitBase_;
  std::optional<TrackFragment> lastWithRuns_;
  std::optional<std::optional<std::uint64_t>> lastDataEnd_;  // of lastWithRuns_, once known
  std::optional<std::pair<std::uint32_t, FragmentDefaults>> lastLookedUp_;  // a track's defaults
};

// The runs (`trun`) of one track fragment. A run whose data would start
// outside the addressable range gives nothing; so does a later run that
// starts where such a run would have ended.
class FragmentRuns {
 public:
  // `bytes` hold the track fragment and outlive the runs.
  FragmentRuns(const ByteView& bytes, const TrackFragment& fragment, FragmentDefaults defaults);

  std::optional<SampleRun> next();

  // Where the data of the last run ends, reading every run that is left.
  std::optional<std::uint64_t> dataEnd();

 private:
  // Where a run without a data offset starts: at the base for the first run,
  // else where the previous run's data ended.
  std::optional<std::uint64_t> implicitStart() const;

  const ByteView* bytes_;
  BasicChildBoxes<ByteView> children_;
  std::uint64_t base_;
  FragmentDefaults defaults_;
  std::optional<SampleRun> previous_;
  bool previousUnknown_ = false;  // the previous run gave nothing
};

}  // namespace ostrel::media
