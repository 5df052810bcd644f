#include "Asset.h"

#include <algorithm>

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

Asset::IndexedFragments Asset::indexFragments(FourCC mediaType) const {
  IndexedFragments indexed{.mediaType = mediaType};
  const std::optional<std::uint64_t> first = FragmentIndex::findFirst(file_, movieEnd_);
  if (!first) return indexed;
  // Each ID goes to the first track that has it; the chosen tracks are those
  // of the media type among them.
  struct Listed {
    std::uint32_t id;
    std::size_t position;
    FourCC mediaType;
  };
  std::vector<Listed> listed;
  TrackList list = tracks();
  while (const std::optional<Track> track = list.next()) listed.push_back({track->id, track->position, track->mediaType});
  std::stable_sort(listed.begin(), listed.end(), [](const Listed& a, const Listed& b) { return a.id < b.id; });
  std::vector<std::uint32_t> chosen;
  for (std::size_t i = 0; i < listed.size(); ++i) {
    const bool firstWithId = i == 0 || listed[i - 1].id != listed[i].id;
    if (!firstWithId || listed[i].mediaType != mediaType) continue;
    indexed.owners.emplace_back(listed[i].id, listed[i].position);
    chosen.push_back(listed[i].id);
  }
  indexed.index.emplace(file_, *first, FragmentDefaultsTable(movieReader(), *movie_), chosen);
  return indexed;
}

std::optional<std::size_t> Asset::nextFragmentOf(const Track& track,
                                                 std::optional<std::size_t> previous) const {
  if (!movie_ || track.id == 0) return std::nullopt;
  if (!fragments_ || fragments_->mediaType != track.mediaType) fragments_ = indexFragments(track.mediaType);
  const std::pair<std::uint32_t, std::size_t> owner{track.id, track.position};
  if (!fragments_->index || !std::binary_search(fragments_->owners.begin(), fragments_->owners.end(), owner)) {
    return std::nullopt;
  }
  return fragments_->index->next(track.id, previous);
}

}  // namespace ostrel::media
