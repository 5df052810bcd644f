#include "Fields.h"

#include <algorithm>

namespace ostrel::media {

std::optional<CountedEntries> CountedEntries::read(const ByteReader& reader, const Box& box) {
  Fields fields(reader, box);
  if (!FullBoxHeader::read(fields)) return std::nullopt;
  const std::optional<std::uint32_t> count = fields.u32();
  if (!count) return std::nullopt;
  return CountedEntries{*count, fields.position(), fields.position() + fields.remaining()};
}

EntryTable EntryTable::of(const CountedEntries& entries, std::uint64_t width) {
  const std::uint64_t room = (entries.end - entries.begin) / width;
  return {entries.begin, std::min<std::uint64_t>(entries.count, room), width};
}

EntryTable EntryTable::in(const ByteReader& reader, const Box& box, std::uint64_t width) {
  const std::optional<CountedEntries> entries = CountedEntries::read(reader, box);
  return entries ? of(*entries, width) : EntryTable{};
}

}  // namespace ostrel::media
