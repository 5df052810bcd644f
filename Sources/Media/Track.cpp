#include "Track.h"

#include "Fields.h"

namespace ostrel::media {

namespace {

// tkhd: version 1 keeps 64-bit creation and modification times before the ID.
std::uint32_t readTrackId(const ByteReader& reader, const Box& header) {
  Fields fields(reader, header);
  const std::optional<FullBoxHeader> full = FullBoxHeader::read(fields);
  if (!full || !fields.skip(full->version == 1 ? 16 : 8)) return 0;
  return fields.u32().value_or(0);
}

// hdlr: full box header, pre_defined (QuickTime's component type), handler type.
FourCC readHandlerType(const ByteReader& reader, const Box& handler) {
  Fields fields(reader, handler);
  if (!FullBoxHeader::read(fields) || !fields.skip(4)) return 0;
  return fields.u32().value_or(0);
}

}  // namespace

Track Track::read(const ByteReader& reader, const Box& trak, std::size_t position) {
  Track track{.position = position};
  // The first box of each kind counts.
  std::optional<Box> header, media, handler;
  ChildBoxes children(reader, trak);
  while (std::optional<Box> child = children.next()) {
    if (child->type == fourCC("tkhd") && !header) header = child;
    if (child->type == fourCC("mdia") && !media) media = child;
  }
  if (header) track.id = readTrackId(reader, *header);
  if (!media) return track;
  // The media handler says what the track holds; the data handler that
  // QuickTime also keeps in minf does not.
  ChildBoxes mediaChildren(reader, *media);
  while (std::optional<Box> child = mediaChildren.next()) {
    if (child->type == fourCC("hdlr") && !handler) handler = child;
    if (child->type == fourCC("minf") && !track.mediaInformation) track.mediaInformation = child;
  }
  if (handler) track.mediaType = readHandlerType(reader, *handler);
  return track;
}

std::optional<Track> TrackList::next() {
  while (std::optional<Box> box = boxes_.next()) {
    if (box->type != fourCC("trak")) continue;
    return Track::read(*reader_, *box, position_++);
  }
  return std::nullopt;
}

}  // namespace ostrel::media
