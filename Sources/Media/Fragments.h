#pragma once

#include <cstdint>
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

// One track fragment (`traf`) of a movie fragment, with where its data starts
// and the defaults its runs use, worked out once.
struct TrackFragment {
  std::uint32_t trackId = 0;
  std::uint32_t descriptionIndex = 0;
  std::uint32_t defaultSize = 0;
  std::uint64_t base = 0;
  Box box;
};

// The track fragments of the chosen tracks in every movie fragment (`moof`)
// after the movie box, in file order, found in one walk of the file's
// top-level boxes. Every track fragment of the file is read on that walk, to
// know where the data of the next one starts, but only the chosen tracks'
// are kept: memory follows the fragments of those tracks really in the file.
class FragmentIndex {
 public:
  FragmentIndex() = default;
  // `chosen` holds the track IDs to keep, sorted.
  FragmentIndex(const ByteReader& file, std::uint64_t firstFragment, const ByteReader& movieReader,
                const Box& movie, std::span<const std::uint32_t> chosen);

  // The track's fragments, in file order.
  std::span<const TrackFragment> of(std::uint32_t trackId) const;

  // Where the first movie fragment after `from` starts, if there is one.
  static std::optional<std::uint64_t> findFirst(const ByteReader& file, std::uint64_t from);

 private:
  std::vector<TrackFragment> fragments_;  // by track ID, then file order
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
