#include <ostrel/ostrel.h>

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

}  // namespace

std::optional<StartFrame> scanTimecodeTracks(const media::Asset& asset, ScanObserver* observer) {
  int undecodable = 0;
  media::TrackList tracks = asset.tracks();
  while (const std::optional<media::Track> track = tracks.next()) {
    if (track->mediaType != media::kMediaTypeTimecode) {
      if (observer != nullptr) observer->track(*track, nullptr);
      continue;
    }
    media::TrackReader reader(asset, *track, kTimecodeFormats);
    if (observer != nullptr) observer->track(*track, &reader);
    while (const std::optional<std::variant<media::Sample, media::PassedOver>> step = reader.step()) {
      const media::Sample* sample = std::get_if<media::Sample>(&*step);
      if (sample == nullptr) {
        if (observer != nullptr) observer->passedOver(std::get<media::PassedOver>(*step));
        continue;
      }
      const std::optional<StartFrame> frame = decodeTimecodeSample(sample->format, sample->bytes());
      if (observer != nullptr) observer->tried(*sample, frame);
      if (frame) return frame;
      if (++undecodable == kMaxUndecodableSamples) {
        if (observer != nullptr) observer->gaveUp();
        return std::nullopt;
      }
    }
  }
  return std::nullopt;
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
