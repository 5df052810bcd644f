#pragma once

// Reads back what a track reader delivers, to check the container layer.

#include <optional>
#include <string>
#include <vector>

#include "Media/Asset.h"
#include "Media/TrackReader.h"

namespace ostrel::testing {

struct Delivered {
  std::string format;
  std::vector<std::uint8_t> prefix;
  std::uint64_t totalLength = 0;

  bool operator==(const Delivered&) const = default;
};

inline std::string formatName(media::FourCC code) {
  std::string name(4, ' ');
  for (int i = 0; i < 4; ++i) name[i] = char(code >> (24 - 8 * i));
  return name;
}

inline std::optional<media::Track> trackAt(const media::Asset& asset, int index) {
  media::TrackList tracks = asset.tracks();
  std::optional<media::Track> track = tracks.next();
  for (int i = 0; i < index && track; ++i) track = tracks.next();
  return track;
}

// Every sample a reader of track `index` (0-based, in list order) delivers,
// asking for every format.
inline std::vector<Delivered> samplesOfTrack(const media::Asset& asset, int index) {
  const std::optional<media::Track> track = trackAt(asset, index);
  if (!track) return {};
  media::TrackReader reader(asset, *track);
  std::vector<Delivered> out;
  while (std::optional<media::Sample> sample = reader.next()) {
    const std::span<const std::uint8_t> bytes = sample->bytes();
    out.push_back({formatName(sample->format), {bytes.begin(), bytes.end()}, sample->size});
  }
  return out;
}

inline std::vector<std::string> mediaTypes(const media::Asset& asset) {
  std::vector<std::string> out;
  media::TrackList tracks = asset.tracks();
  while (std::optional<media::Track> track = tracks.next()) out.push_back(formatName(track->mediaType));
  return out;
}

}  // namespace ostrel::testing
