#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>

#include "Box.h"
#include "ByteReader.h"
#include "ByteSource.h"
#include "Track.h"

namespace ostrel::media {

// An opened movie file. Opening has no failure of its own: a file that cannot
// be read, or that holds no movie, lists no tracks.
class Asset {
 public:
  // No source, as for a file that cannot be opened, holds no movie.
  explicit Asset(std::unique_ptr<ByteSource> source);
  static Asset open(const std::filesystem::path& location);
  // The bytes must outlive the asset.
  static Asset openBytes(std::span<const std::uint8_t> bytes);

  // Readers point into the asset, so it stays where it was made.
  Asset(const Asset&) = delete;
  Asset& operator=(const Asset&) = delete;

  TrackList tracks() const;

  // The file: sample data and movie fragments.
  const ByteReader& file() const { return file_; }
  // Where the movie box's own boxes are read: the file, or the movie box
  // inflated from it when the file stores it compressed.
  const ByteReader& movieReader() const { return inflatedMovie_ ? *inflatedMovie_ : file_; }
  bool movieIsCompressed() const { return inflatedMovie_.has_value(); }
  // The movie box, in movieReader(); none when the file holds no movie.
  const std::optional<Box>& movie() const { return movie_; }
  // Where the movie box ends in the file: movie fragments may follow.
  std::uint64_t movieEnd() const { return movieEnd_; }

 private:
  ByteReader file_;
  std::optional<ByteReader> inflatedMovie_;
  std::optional<Box> movie_;
  std::uint64_t movieEnd_ = 0;
};

}  // namespace ostrel::media
