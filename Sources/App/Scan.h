#pragma once

#include <optional>

#include <ostrel/ostrel.h>

#include "Media/Asset.h"
#include "Media/TrackReader.h"

namespace ostrel {

// What the scan of timecode tracks meets, in the order it meets it. The tool
// watches nothing; the companion command that explains an answer watches all.
class ScanObserver {
 public:
  virtual ~ScanObserver() = default;

  // A track, in list order; the reader only for a timecode track.
  virtual void track(const media::Track& track, const media::TrackReader* reader) = 0;
  // Samples the reader passed over.
  virtual void passedOver(const media::PassedOver& samples) = 0;
  // A sample handed to the decoding, and what that gave.
  virtual void tried(const media::Sample& sample, std::optional<StartFrame> frame) = 0;
  // The scan stopped after kMaxUndecodableSamples.
  virtual void gaveUp() = 0;
};

// A timecode sample of the right format and size that still does not decode
// holds a tc64 frame number of 2^32 or more: over two years of frames at 60
// fps, which no camera or editor writes. A file that holds many can only be
// built to make the scan slow, so the scan gives up after this many.
inline constexpr int kMaxUndecodableSamples = 1000;

// The frame number of the first decodable sample of the first timecode track
// that has one; everything else moves on to the next sample or track.
std::optional<StartFrame> scanTimecodeTracks(const media::Asset& asset, ScanObserver* observer = nullptr);

}  // namespace ostrel
