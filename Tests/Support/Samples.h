#pragma once

// Reads back what a track output delivers, to check the container layer.

#include <optional>
#include <string>
#include <vector>

#include "Media/AssetReader.h"

namespace ostrel::testing {

struct Delivered {
  std::string format;                 // empty when the sample has no description
  std::vector<std::uint8_t> prefix;   // empty when it has no data block
  std::uint64_t totalLength = 0;

  bool operator==(const Delivered&) const = default;
};

inline std::string formatName(media::FourCC code) {
  std::string name(4, ' ');
  for (int i = 0; i < 4; ++i) name[i] = char(code >> (24 - 8 * i));
  return name;
}

// Every sample the output of track `index` (0-based, in list order) delivers.
inline std::vector<Delivered> samplesOfTrack(const media::Asset& asset, int index) {
  media::TrackList tracks = asset.tracks();
  std::optional<media::Track> track = tracks.next();
  for (int i = 0; i < index && track; ++i) track = tracks.next();
  if (!track) return {};
  std::optional<media::AssetReader> reader = media::AssetReader::create(asset);
  if (!reader) return {};
  media::TrackOutput& output = reader->addOutput(media::TrackOutput(*track));
  reader->startReading();
  std::vector<Delivered> out;
  while (std::optional<media::Sample> sample = output.copyNextSample()) {
    Delivered d;
    if (const media::FormatDescription* format = sample->formatDescription()) {
      d.format = formatName(format->mediaSubType());
    }
    if (const media::DataBlock* block = sample->dataBuffer()) {
      const media::DataBlock::Pointer view = block->dataPointer(0);
      if (view.status == 0) d.prefix.assign(view.data, view.data + view.contiguousLength);
      d.totalLength = view.totalLength;
    }
    out.push_back(d);
  }
  return out;
}

inline std::vector<std::string> mediaTypes(const media::Asset& asset) {
  std::vector<std::string> out;
  media::TrackList tracks = asset.tracks();
  while (std::optional<media::Track> track = tracks.next()) out.push_back(formatName(track->mediaType()));
  return out;
}

}  // namespace ostrel::testing
