#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "Asset.h"
#include "Fragments.h"
#include "RunReader.h"
#include "SampleDescriptions.h"
#include "Track.h"

namespace ostrel::media {

// The samples that movie fragments hold for several tracks at once, in file
// order: one walk over the fragments serves every track followed, so each
// byte of fragment metadata is read once however many tracks wait for a
// sample. Memory follows the tracks followed, never the fragments.
//
// Fragments name their track by ID; when tracks share an ID, they belong to
// the first of them, and a track without an ID has none.
class FragmentSamples {
 public:
  // Whether samples passed over are told, or only samples delivered.
  enum class PassedOverSteps { Told, Untold };

  // `wanted` must outlive the samples; see RunReader. Untold, the track
  // fragments whose description holds no wanted sample are passed over
  // without reading their runs.
  FragmentSamples(const Asset& asset, std::span<const WantedFormat> wanted,
                  PassedOverSteps passedOver = PassedOverSteps::Told);

  // Follows a track of the asset, before the first step. Costs nothing in a
  // movie without fragments.
  void follow(const Track& track, SampleDescriptions descriptions);
  // Stops following the track at `position` in the track list, or every
  // track at `position` and after it. The walk ends once no track is left.
  void stopFollowing(std::size_t position);
  void stopFollowingFrom(std::size_t position);

  // The next sample, or samples passed over, of a followed track, with the
  // track's position and its descriptions; nothing once the fragments or the
  // tracks are done.
  struct Step {
    std::size_t position = 0;
    const SampleDescriptions* descriptions = nullptr;
    SampleStep what;
  };
  std::optional<Step> step();

 private:
  struct Followed {
    std::uint32_t trackId = 0;
    std::size_t position = 0;
    SampleDescriptions descriptions;
    bool following = true;
    // The description of the last track fragment passed over untold, none
    // of whose samples can be delivered.
    std::optional<std::uint32_t> rejectedDescription;
  };

  // On the first step: drops the tracks whose ID an earlier track has, and
  // starts the walk.
  void begin();
  // The followed track with the ID; none when it is not followed.
  Followed* find(std::uint32_t trackId);
  // Follows no track any more: the walk is over.
  void finish();

  const Asset* asset_;
  RunReader runs_;
  bool tellPassedOver_;
  std::optional<std::uint64_t> firstFragment_;
  bool looked_ = false;  // for the first fragment
  std::vector<Followed> followed_;  // by ID, once begun
  std::size_t following_ = 0;
  std::optional<MovieFragments> walk_;
  Followed* current_ = nullptr;  // whose track fragment is being read
  Followed* lastFound_ = nullptr;
  std::optional<FragmentRuns> fragmentRuns_;
  bool inRun_ = false;
};

}  // namespace ostrel::media
