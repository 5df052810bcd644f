#include "Asset.h"

#include "CompressedMovie.h"

namespace ostrel::media {

Asset::Asset(std::unique_ptr<ByteSource> source) : file_(std::move(source)) {
  // Only headers are read on the way to the movie box: media data is passed over.
  ChildBoxes top(file_, 0, file_.size(), ChildBoxes::Level::Top);
  std::optional<Box> movie;
  while (std::optional<Box> box = top.next()) {
    if (box->type == fourCC("moov")) {
      movie = box;
      break;
    }
  }
  if (!movie) return;
  movieEnd_ = movie->end();
  const std::optional<Box> compressed = findChild(file_, *movie, fourCC("cmov"));
  if (!compressed) {
    movie_ = movie;
    return;
  }
  // The inflated bytes are a whole movie box, whose offsets still point into
  // this file. A compressed movie that cannot be inflated is no movie.
  std::unique_ptr<ByteSource> inflated = inflateMovie(file_, *compressed);
  if (!inflated) return;
  inflatedMovie_.emplace(std::move(inflated));
  const std::optional<Box> inner = ChildBoxes(*inflatedMovie_, 0, inflatedMovie_->size()).next();
  if (inner && inner->type == fourCC("moov")) movie_ = inner;
}

Asset Asset::open(const std::filesystem::path& location) { return Asset(openFileSource(location)); }

Asset Asset::openBytes(std::span<const std::uint8_t> bytes) { return Asset(memorySource(bytes)); }

TrackList Asset::tracks() const {
  if (!movie_) return {};
  return TrackList(movieReader(), *movie_);
}

}  // namespace ostrel::media
