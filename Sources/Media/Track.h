#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "Box.h"
#include "ByteReader.h"
#include "FourCC.h"

namespace ostrel::media {

// The media type of timecode tracks.
inline constexpr FourCC kMediaTypeTimecode = fourCC("tmcd");

// One track of a movie, with what its boxes say about it.
struct Track {
  std::size_t position = 0;   // in the movie's track list, from 0
  std::uint32_t id = 0;       // tkhd; 0 when missing
  FourCC mediaType = 0;       // the media handler's type; 0 when missing
  std::optional<Box> mediaInformation;  // mdia/minf

  // Reads a `trak` box, walking each box on the way once.
  static Track read(const ByteReader& reader, const Box& trak, std::size_t position);
};

// The movie's tracks in stored order, found one at a time so that a movie
// with many tracks costs no memory for them.
class TrackList {
 public:
  TrackList() = default;
  TrackList(const ByteReader& reader, const Box& movie) : reader_(&reader), boxes_(reader, movie) {}

  std::optional<Track> next();

 private:
  const ByteReader* reader_ = nullptr;
  ChildBoxes boxes_;
  std::size_t position_ = 0;
};

}  // namespace ostrel::media
