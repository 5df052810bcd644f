#include <ostrel/ostrel.h>

#include "Media/FragmentSamples.h"
#include "Media/TrackReader.h"
#include "Scan.h"
#include "TimecodeSample.h"

namespace ostrel {

namespace {

// Samples of other formats, or too short for their payload, cannot decode;
// the reader passes them over without reading them.
constexpr media::WantedFormat kTimecodeFormats[] = {
    {kTimecode32, timecodePayloadWidth(kTimecode32)},
    {kTimecode64, timecodePayloadWidth(kTimecode64)},
};

// Hands samples to the decoding and counts those that do not decode.
class Decoding {
 public:
  explicit Decoding(ScanObserver* observer) : observer_(observer) {}

  // The frame number of a step that decodes; nothing for samples passed over
  // or one that does not decode.
  std::optional<StartFrame> take(std::size_t position, const media::SampleDescriptions& descriptions,
                                 const media::SampleStep& step) {
    const media::Sample* sample = std::get_if<media::Sample>(&step);
    if (sample == nullptr) {
      if (observer_ != nullptr) observer_->passedOver(position, descriptions, std::get<media::PassedOver>(step));
      return std::nullopt;
    }
    const std::optional<StartFrame> frame = decodeTimecodeSample(sample->format, sample->bytes());
    if (observer_ != nullptr) observer_->tried(position, descriptions, *sample, frame);
    if (!frame && ++undecodable_ == kMaxUndecodableSamples && observer_ != nullptr) observer_->gaveUp();
    return frame;
  }

  bool gaveUp() const { return undecodable_ >= kMaxUndecodableSamples; }

 private:
  ScanObserver* observer_;
  int undecodable_ = 0;
};

struct Found {
  std::size_t position = 0;
  StartFrame frame = 0;
};

}  // namespace

std::optional<StartFrame> scanTimecodeTracks(const media::Asset& asset, ScanObserver* observer, ScanScope scope) {
  Decoding decoding(observer);
  std::optional<Found> answer;
  // Tracks whose tables hold no decodable sample wait for the fragments.
  media::FragmentSamples fragments(asset, kTimecodeFormats,
                                   observer != nullptr ? media::FragmentSamples::PassedOverSteps::Told
                                                       : media::FragmentSamples::PassedOverSteps::Untold);
  media::TrackList tracks = asset.tracks();
  while (const std::optional<media::Track> track = tracks.next()) {
    if (track->mediaType != media::kMediaTypeTimecode) {
      if (observer != nullptr) observer->track(*track, nullptr);
      continue;
    }
    media::TrackReader table(asset, *track, kTimecodeFormats, media::TrackReader::Parts::TableOnly);
    if (observer != nullptr) observer->track(*track, &table.descriptions());
    std::optional<StartFrame> frame;
    while (!frame) {
      const std::optional<media::SampleStep> step = table.step();
      if (!step) break;
      frame = decoding.take(track->position, table.descriptions(), *step);
      if (decoding.gaveUp()) return std::nullopt;
    }
    if (!frame) {
      fragments.follow(*track, table.descriptions());
      continue;
    }
    if (!answer) answer = Found{track->position, *frame};
    if (scope == ScanScope::Answer) break;
  }
  while (const std::optional<media::FragmentSamples::Step> step = fragments.step()) {
    const std::optional<StartFrame> frame = decoding.take(step->position, *step->descriptions, step->what);
    if (decoding.gaveUp()) return std::nullopt;
    if (!frame) continue;
    if (!answer || step->position < answer->position) answer = Found{step->position, *frame};
    // A track after the answer can no longer give it.
    if (scope == ScanScope::Answer) {
      fragments.stopFollowingFrom(step->position);
    } else {
      fragments.stopFollowing(step->position);
    }
  }
  if (!answer) return std::nullopt;
  return answer->frame;
}

std::optional<StartFrame> readStartFrame(const std::filesystem::path& from) {
  try {
    return scanTimecodeTracks(media::Asset::open(from));
  } catch (...) {  // only allocation can throw; it is a failure like any other
    return std::nullopt;
  }
}

std::optional<StartFrame> readStartFrame(const std::uint8_t* data, std::size_t size) {
  try {
    return scanTimecodeTracks(media::Asset::openBytes({data, size}));
  } catch (...) {
    return std::nullopt;
  }
}

}  // namespace ostrel
