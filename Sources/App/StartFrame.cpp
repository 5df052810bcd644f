#include <ostrel/ostrel.h>

#include "Media/AssetReader.h"
#include "TimecodeSample.h"

namespace ostrel {

namespace {

// The first timecode track that holds a decodable sample wins; within it, the
// first such sample. Everything else moves on to the next sample or track.
std::optional<StartFrame> scanTimecodeTracks(const media::Asset& asset) {
  media::TrackList tracks = asset.tracks();
  while (const std::optional<media::Track> track = tracks.next()) {
    if (track->mediaType() != media::kMediaTypeTimecode) continue;
    std::optional<media::AssetReader> reader = media::AssetReader::create(asset);
    if (!reader) continue;
    media::TrackOutput& output = reader->addOutput(media::TrackOutput(*track));
    reader->startReading();
    while (const std::optional<media::Sample> sample = output.copyNextSample()) {
      const media::DataBlock* block = sample->dataBuffer();
      if (block == nullptr) continue;
      const media::FormatDescription* format = sample->formatDescription();
      if (format == nullptr) continue;
      const media::DataBlock::Pointer view = block->dataPointer(0);
      if (view.status != 0 || view.data == nullptr) continue;
      if (const std::optional<StartFrame> frame = decodeTimecodeSample(
              format->mediaSubType(), {view.data, view.contiguousLength})) {
        return frame;
      }
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
