#pragma once

#include <cstddef>
#include <optional>

#include <ostrel/ostrel.h>

#include "Media/Asset.h"
#include "Media/RunReader.h"
#include "Media/SampleDescriptions.h"
#include "Media/Track.h"

namespace ostrel {

// What the scan of timecode tracks meets. Tracks come in list order; the
// samples of a track's sample table come while it is met, those of movie
// fragments later, in file order, each with the position of its track in the
// list. The tool watches nothing; the companion command that explains an
// answer watches all.
class ScanObserver {
 public:
  virtual ~ScanObserver() = default;

  // A track; its sample descriptions only for a timecode track.
  virtual void track(const media::Track& track, const media::SampleDescriptions* descriptions) = 0;
  // Samples passed over in the track at `position`.
  virtual void passedOver(std::size_t position, const media::SampleDescriptions& descriptions,
                          const media::PassedOver& samples) = 0;
  // A sample handed to the decoding, and what that gave.
  virtual void tried(std::size_t position, const media::SampleDescriptions& descriptions,
                     const media::Sample& sample, std::optional<StartFrame> frame) = 0;
  // The scan stopped after kMaxUndecodableSamples.
  virtual void gaveUp() = 0;
};

// A timecode sample of the right format and size that still does not decode
// holds a tc64 frame number of 2^32 or more: over two years of frames at 60
// fps, which no camera or editor writes. A file that holds many can only be
// built to make the scan slow, so the scan gives up after this many.
inline constexpr int kMaxUndecodableSamples = 1000;

// How far a scan reads: to the tool's answer, or on to the first decodable
// sample of every timecode track, for whoever wants to show them all.
enum class ScanScope { Answer, EveryTrack };

// The frame number of the first decodable sample of the first timecode track
// that has one; everything else moves on to the next sample or track.
//
// The sample tables of the timecode tracks are read first, in list order, up
// to the first track whose table holds a decodable sample; then the movie
// fragments, once, in file order, for the tracks before it. Samples that do
// not decode count against kMaxUndecodableSamples in that order.
std::optional<StartFrame> scanTimecodeTracks(const media::Asset& asset, ScanObserver* observer = nullptr,
                                             ScanScope scope = ScanScope::Answer);

}  // namespace ostrel
