#pragma once

// Writes container files byte by byte, so that each test shows what matters.

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <span>
#include <string_view>
#include <vector>

namespace ostrel::testing {

using Bytes = std::vector<std::uint8_t>;

inline void append(Bytes& to, const Bytes& more) { to.insert(to.end(), more.begin(), more.end()); }

inline Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) append(out, part);
  return out;
}

inline Bytes bigEndian(std::uint64_t value, int width) {
  Bytes out;
  for (int shift = (width - 1) * 8; shift >= 0; shift -= 8) out.push_back(std::uint8_t(value >> shift));
  return out;
}
inline Bytes u8(std::uint64_t v) { return bigEndian(v, 1); }
inline Bytes u16(std::uint64_t v) { return bigEndian(v, 2); }
inline Bytes u24(std::uint64_t v) { return bigEndian(v, 3); }
inline Bytes u32(std::uint64_t v) { return bigEndian(v, 4); }
inline Bytes u64(std::uint64_t v) { return bigEndian(v, 8); }
inline Bytes zeros(std::size_t n) { return Bytes(n, 0); }
inline Bytes text(std::string_view s) { return Bytes(s.begin(), s.end()); }

// A box with a 32-bit size.
inline Bytes box(std::string_view type, std::initializer_list<Bytes> payload = {}) {
  const Bytes body = cat(payload);
  return cat({u32(8 + body.size()), text(type), body});
}

// A box with size 1 and the real size in 64 bits.
inline Bytes box64(std::string_view type, std::initializer_list<Bytes> payload = {}) {
  const Bytes body = cat(payload);
  return cat({u32(1), text(type), u64(16 + body.size()), body});
}

inline Bytes fullBox(std::string_view type, std::uint8_t version, std::uint32_t flags,
                     std::initializer_list<Bytes> payload = {}) {
  return box(type, {u8(version), u24(flags), cat(payload)});
}

inline Bytes handler(std::string_view type) {
  return fullBox("hdlr", 0, 0, {u32(0), text(type), zeros(12), u8(0)});
}

// A sample description: six reserved bytes, the data reference index, then whatever the format keeps.
inline Bytes sampleEntry(std::string_view format, std::uint16_t dataReference = 1,
                         const Bytes& rest = zeros(16)) {
  return box(format, {zeros(6), u16(dataReference), rest});
}

// Table builders take a span, so that tests can build large tables in a
// loop, or a braced list.
template <typename T>
std::span<const T> listOf(std::initializer_list<T> items) {
  return {items.begin(), items.size()};
}

inline Bytes stsd(std::span<const Bytes> entries) {
  Bytes body = u32(entries.size());
  for (const Bytes& entry : entries) append(body, entry);
  return fullBox("stsd", 0, 0, {body});
}
inline Bytes stsd(std::initializer_list<Bytes> entries) { return stsd(listOf(entries)); }

struct ChunkRun {
  std::uint32_t firstChunk, samplesPerChunk, description;
};
inline Bytes stsc(std::span<const ChunkRun> runs) {
  Bytes body = u32(runs.size());
  for (const ChunkRun& run : runs) append(body, cat({u32(run.firstChunk), u32(run.samplesPerChunk), u32(run.description)}));
  return fullBox("stsc", 0, 0, {body});
}
inline Bytes stsc(std::initializer_list<ChunkRun> runs) { return stsc(listOf(runs)); }

inline Bytes stszTable(std::span<const std::uint32_t> sizes) {
  Bytes body = cat({u32(0), u32(sizes.size())});
  for (std::uint32_t size : sizes) append(body, u32(size));
  return fullBox("stsz", 0, 0, {body});
}
inline Bytes stszTable(std::initializer_list<std::uint32_t> sizes) { return stszTable(listOf(sizes)); }
inline Bytes stszConstant(std::uint32_t size, std::uint32_t count) {
  return fullBox("stsz", 0, 0, {u32(size), u32(count)});
}

inline Bytes stco(std::span<const std::uint64_t> offsets) {
  Bytes body = u32(offsets.size());
  for (std::uint64_t offset : offsets) append(body, u32(offset));
  return fullBox("stco", 0, 0, {body});
}
inline Bytes stco(std::initializer_list<std::uint64_t> offsets) { return stco(listOf(offsets)); }
inline Bytes co64(std::span<const std::uint64_t> offsets) {
  Bytes body = u32(offsets.size());
  for (std::uint64_t offset : offsets) append(body, u64(offset));
  return fullBox("co64", 0, 0, {body});
}
inline Bytes co64(std::initializer_list<std::uint64_t> offsets) { return co64(listOf(offsets)); }

// A data reference list; a self-contained entry has flag 1.
inline Bytes dref(std::initializer_list<Bytes> entries) {
  return fullBox("dref", 0, 0, {u32(entries.size()), cat(entries)});
}
inline Bytes selfContained() { return fullBox("url ", 0, 1); }
inline Bytes elsewhere(std::string_view url) { return fullBox("url ", 0, 0, {text(url), u8(0)}); }

inline Bytes tkhd(std::uint32_t trackId) {
  return fullBox("tkhd", 0, 3, {u32(0), u32(0), u32(trackId), zeros(68)});
}

// A track of the given media handler around a sample table.
inline Bytes trak(std::uint32_t trackId, std::string_view mediaType, const Bytes& sampleTable,
                  const Bytes& dataInformation = box("dinf", {dref({selfContained()})})) {
  return box("trak", {tkhd(trackId),
                      box("mdia", {fullBox("mdhd", 0, 0, {zeros(20)}), handler(mediaType),
                                   box("minf", {dataInformation, sampleTable})})});
}

// One timecode sample of four bytes at the given absolute offset.
inline Bytes timecodeTable(std::uint64_t offset, std::string_view format = "tmcd", std::uint32_t size = 4) {
  return box("stbl", {stsd({sampleEntry(format)}), stsc({{1, 1, 1}}), stszTable({size}), stco({offset})});
}

inline Bytes ftyp() { return box("ftyp", {text("qt  "), u32(0), text("qt  ")}); }

// A track with descriptions but no samples of its own, as fragmented movies have.
inline Bytes emptyTrack(std::uint32_t id, std::string_view type,
                        std::initializer_list<Bytes> entries = {sampleEntry("tmcd")}) {
  return trak(id, type, box("stbl", {stsd(entries), stsc({}), stszTable({}), stco({})}));
}

// Movie fragments. tfhd and trun flags:
constexpr std::uint32_t kBaseOffset = 0x1, kDescriptionIndex = 0x2, kDefaultSize = 0x10,
                        kDefaultFlags = 0x20, kBaseIsMoof = 0x20000;
constexpr std::uint32_t kDataOffset = 0x1, kFirstFlags = 0x4, kDuration = 0x100, kSize = 0x200,
                        kSampleFlags = 0x400, kCompositionOffset = 0x800;

inline Bytes tfhd(std::uint32_t flags, std::uint32_t trackId, std::initializer_list<Bytes> fields = {}) {
  return fullBox("tfhd", 0, flags, {u32(trackId), cat(fields)});
}
inline Bytes trun(std::uint32_t flags, std::uint32_t count, std::initializer_list<Bytes> fields = {}) {
  return fullBox("trun", 0, flags, {u32(count), cat(fields)});
}
inline Bytes traf(std::initializer_list<Bytes> children) { return box("traf", children); }
inline Bytes moof(std::initializer_list<Bytes> trafs) {
  return box("moof", {fullBox("mfhd", 0, 0, {u32(1)}), cat(trafs)});
}
inline Bytes trex(std::uint32_t trackId, std::uint32_t description, std::uint32_t size) {
  return fullBox("trex", 0, 0, {u32(trackId), u32(description), u32(0), u32(size), u32(0)});
}

// Makes a moof, knowing where it starts and where its mdat's data starts.
using MakeFragment = std::function<Bytes(std::uint64_t moofAt, std::uint64_t dataAt)>;

// Appends a moof and the mdat holding `data`; box sizes do not depend on the
// offsets written in them, so a first pass finds where the data starts.
inline void appendFragment(Bytes& file, const MakeFragment& make, const Bytes& data) {
  const std::uint64_t at = file.size();
  const std::uint64_t dataAt = at + make(at, 0).size() + 8;
  append(file, cat({make(at, dataAt), box("mdat", {data})}));
}

// ftyp, then mdat holding `media`, then moov. Offsets inside moov are
// absolute, so the movie is made from where the media starts.
template <typename MakeMovie>
Bytes movieAfterMedia(const Bytes& media, MakeMovie makeMovie) {
  const Bytes head = ftyp();
  const std::uint64_t mediaStart = head.size() + 8;
  return cat({head, box("mdat", {media}), makeMovie(mediaStart)});
}

// ftyp, then moov, then mdat holding `media`; box sizes do not depend on the
// offsets written in them, so a first pass finds where the media starts.
template <typename MakeMovie>
Bytes movieBeforeMedia(const Bytes& media, MakeMovie makeMovie) {
  const std::uint64_t mediaStart = ftyp().size() + makeMovie(0).size() + 8;
  return cat({ftyp(), makeMovie(mediaStart), box("mdat", {media})});
}

}  // namespace ostrel::testing
