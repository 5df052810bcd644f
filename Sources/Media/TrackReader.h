#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "Asset.h"
#include "FragmentSamples.h"
#include "RunReader.h"
#include "SampleDescriptions.h"
#include "SampleTable.h"
#include "Track.h"

namespace ostrel::media {

// Delivers one track's samples in stored form, one at a time: those of its
// sample table, then those of its movie fragments, in file order. Only
// samples that can be what the caller asked for are delivered; see RunReader.
class TrackReader {
 public:
  enum class Parts { TableAndFragments, TableOnly };

  // `wanted` must outlive the reader.
  TrackReader(const Asset& asset, const Track& track, std::span<const WantedFormat> wanted = {},
              Parts parts = Parts::TableAndFragments);

  // The next sample; nothing once the track is exhausted or reading failed.
  std::optional<Sample> next();

  // The same, step by step: the next sample, or the next samples passed over.
  std::optional<SampleStep> step();

  const SampleDescriptions& descriptions() const { return descriptions_; }

 private:
  std::optional<SampleStep> tableStep();

  const Asset* asset_;
  Track track_;
  std::span<const WantedFormat> wanted_;
  SampleDescriptions descriptions_;
  SampleTable table_;
  ByteView tableBytes_;
  RunReader runs_;
  bool inRun_ = false;
  bool tableDone_ = false;
  std::optional<FragmentSamples> fragments_;  // once the table is done
  bool withFragments_;
};

}  // namespace ostrel::media
