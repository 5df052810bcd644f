// Every track of a movie, whatever its media type, read sample by sample:
// more of the container layer than the timecode scan reaches.

#include <cstddef>
#include <cstdint>

#include "Media/Asset.h"
#include "Media/TrackReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ostrel::media;
  // A run of one constant size may claim billions of samples that all lie in
  // the file; the tool never reads past its first few, nor does this.
  constexpr int kSamplesPerTrack = 10000;
  const Asset asset = Asset::openBytes({data, size});
  TrackList tracks = asset.tracks();
  while (const std::optional<Track> track = tracks.next()) {
    TrackReader reader(asset, *track);
    for (int i = 0; i < kSamplesPerTrack && reader.next(); ++i) {
    }
  }
  return 0;
}
