#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "Box.h"
#include "ByteReader.h"
#include "CompressedMovie.h"
#include "Fragments.h"
#include "Track.h"

namespace ostrel::media {

// An opened movie file. Opening has no failure of its own: a file that cannot
// be read, or that holds no movie, lists no tracks.
class Asset {
 public:
  static Asset open(const std::filesystem::path& location);
  // The bytes must outlive the asset.
  static Asset openBytes(std::span<const std::uint8_t> bytes);

  // Readers and the fragment index point into the asset, so it stays where
  // it was made.
  Asset(const Asset&) = delete;
  Asset& operator=(const Asset&) = delete;

  TrackList tracks() const;

  // The file: sample data and movie fragments.
  const ByteReader& file() const { return file_; }
  // Where the movie box's own boxes are read: the file, or the movie box
  // inflated from it when the file stores it compressed.
  const ByteReader& movieReader() const { return inflatedMovie_ ? *inflatedMovie_ : file_; }
  bool movieIsCompressed() const { return inflatedMovie_.has_value(); }

  // The track's fragment after `previous` in file order, or its first when
  // there is none. Fragments name their track by ID; when tracks share an
  // ID, they belong to the first of them.
  std::optional<std::size_t> nextFragmentOf(const Track& track, std::optional<std::size_t> previous) const;
  const TrackFragment& fragment(std::size_t index) const { return fragments_->index->at(index); }

 private:
  explicit Asset(std::unique_ptr<ByteSource> source);

  // Fragments are indexed once, on first use, for the tracks of one media type.
  struct IndexedFragments {
    FourCC mediaType = 0;
    std::vector<std::pair<std::uint32_t, std::size_t>> owners;  // track ID, position; by ID
    std::optional<FragmentIndex> index;  // none without fragments
  };
  IndexedFragments indexFragments(FourCC mediaType) const;

  ByteReader file_;
  std::optional<ByteReader> inflatedMovie_;
  std::optional<Box> movie_;  // in movieReader()
  std::uint64_t movieEnd_ = 0;  // in the file: where fragments may follow
  // The cache is state of this asset alone; asking a const asset fills it.
  mutable std::optional<IndexedFragments> fragments_;
};

}  // namespace ostrel::media
