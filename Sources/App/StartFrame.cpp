#include <ostrel/ostrel.h>

#include "Media/Asset.h"
#include "Media/TrackReader.h"
#include "TimecodeSample.h"

namespace ostrel {

namespace {

// Samples of other formats, or too short for their payload, cannot decode;
// the reader passes them over without reading them.
constexpr media::WantedFormat kTimecodeFormats[] = {
    {kTimecode32, timecodePayloadWidth(kTimecode32)},
    {kTimecode64, timecodePayloadWidth(kTimecode64)},
};

// A timecode sample of the right format and size that still does not decode
// holds a tc64 frame number of 2^32 or more: over two years of frames at 60
// fps, which no camera or editor writes. A file that holds many can only be
// built to make the scan slow, so the scan gives up after this many.
constexpr int kMaxUndecodableSamples = 1000;

// The first timecode track that holds a decodable sample wins; within it, the
// first such sample. Everything else moves on to the next sample or track.
std::optional<StartFrame> scanTimecodeTracks(const media::Asset& asset) {
  int undecodable = 0;
  media::TrackList tracks = asset.tracks();
  while (const std::optional<media::Track> track = tracks.next()) {
    if (track->mediaType != media::kMediaTypeTimecode) continue;
    media::TrackReader reader(asset, *track, kTimecodeFormats);
    while (const std::optional<media::Sample> sample = reader.next()) {
      if (const std::optional<StartFrame> frame = decodeTimecodeSample(sample->format, sample->bytes())) {
        return frame;
      }
      if (++undecodable == kMaxUndecodableSamples) return std::nullopt;
    }
  }
  return std::nullopt;
}

}  // namespace

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
