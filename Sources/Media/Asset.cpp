#include "Asset.h"

namespace ostrel::media {

namespace {
// mdia/hdlr: full box header, pre_defined, then the handler type.
constexpr std::uint64_t kHandlerTypeOffset = kFullBoxHeader + 4;
}  // namespace

std::optional<Track> TrackList::next() {
  while (std::optional<Box> box = boxes_.next()) {
    if (box->type != fourCC("trak")) continue;
    // The media handler says what the track holds; the data handler that
    // QuickTime also keeps in minf does not.
    FourCC mediaType = 0;
    if (std::optional<Box> handler = findPath(*reader_, *box, fourCC("mdia"), fourCC("hdlr"))) {
      if (handler->payloadSize() >= kHandlerTypeOffset + 4) {
        mediaType = reader_->u32(handler->payload() + kHandlerTypeOffset).value_or(0);
      }
    }
    return Track(*box, mediaType);
  }
  return std::nullopt;
}

Asset::Asset(std::unique_ptr<ByteSource> source) : reader_(std::move(source)) {
  // Only headers are read on the way to the movie box: media data is passed over.
  ChildBoxes top(reader_, 0, reader_.size(), ChildBoxes::Level::Top);
  while (std::optional<Box> box = top.next()) {
    if (box->type == fourCC("moov")) {
      movie_ = box;
      break;
    }
  }
}

Asset Asset::open(const std::filesystem::path& location) { return Asset(openFileSource(location)); }

Asset Asset::openBytes(std::span<const std::uint8_t> bytes) { return Asset(memorySource(bytes)); }

TrackList Asset::tracks() const {
  if (!movie_) return {};
  return TrackList(reader_, *movie_);
}

}  // namespace ostrel::media
