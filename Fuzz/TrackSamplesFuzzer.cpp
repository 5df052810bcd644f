// Every track of a movie, whatever its media type, read to its last sample:
// more of the container layer than the timecode scan reaches.

#include <cstddef>
#include <cstdint>

#include "Media/AssetReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ostrel::media;
  const Asset asset = Asset::openBytes({data, size});
  TrackList tracks = asset.tracks();
  unsigned checksum = 0;
  while (const std::optional<Track> track = tracks.next()) {
    std::optional<AssetReader> reader = AssetReader::create(asset);
    if (!reader) continue;
    TrackOutput& output = reader->addOutput(TrackOutput(*track));
    reader->startReading();
    while (const std::optional<Sample> sample = output.copyNextSample()) {
      if (const DataBlock* block = sample->dataBuffer()) {
        const DataBlock::Pointer view = block->dataPointer(0);
        for (std::size_t i = 0; i < view.contiguousLength; ++i) checksum += view.data[i];
      }
      if (const FormatDescription* format = sample->formatDescription()) checksum += format->mediaSubType();
    }
  }
  return checksum == 0xFFFFFFFF ? 0 : 0;  // keeps the reads from being optimised away
}
