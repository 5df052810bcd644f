#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>

#include "Box.h"
#include "ByteReader.h"
#include "FourCC.h"

namespace ostrel::media {

// The media type of timecode tracks.
inline constexpr FourCC kMediaTypeTimecode = fourCC("tmcd");

// One track of a movie: its `trak` box and the handler type of its media.
class Track {
 public:
  Track(const Box& trak, FourCC mediaType) : trak_(trak), mediaType_(mediaType) {}

  FourCC mediaType() const { return mediaType_; }
  const Box& box() const { return trak_; }

 private:
  Box trak_;
  FourCC mediaType_;
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
};

// An opened movie file. Opening has no failure of its own: a file that cannot
// be read, or that holds no movie, lists no tracks.
class Asset {
 public:
  static Asset open(const std::filesystem::path& location);
  // The bytes must outlive the asset.
  static Asset openBytes(std::span<const std::uint8_t> bytes);

  TrackList tracks() const;

  bool isReadable() const { return reader_.size() > 0; }
  const ByteReader& reader() const { return reader_; }
  const std::optional<Box>& movie() const { return movie_; }

 private:
  explicit Asset(std::unique_ptr<ByteSource> source);

  ByteReader reader_;
  std::optional<Box> movie_;
};

}  // namespace ostrel::media
