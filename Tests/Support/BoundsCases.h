#pragma once

// Files that once made the reading work grow faster than the metadata: hostile
// ones, which must answer 0 quickly, and well-formed ones with many tracks or
// fragments, which must answer their stored number quickly. The bounds tests
// and the benchmark both run the tool on these.

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "BoxWriter.h"
#include "Compress.h"
#include "Media/CompressedMovie.h"

namespace ostrel::testing {

// A file as pieces at offsets; the rest, up to size, is a hole that costs no disk.
struct SparseFile {
  struct Piece {
    std::uint64_t offset;
    Bytes bytes;
  };
  std::vector<Piece> pieces;
  std::uint64_t size = 0;

  static SparseFile dense(Bytes bytes) {
    const std::uint64_t size = bytes.size();
    return {{{0, std::move(bytes)}}, size};
  }

  bool write(const std::filesystem::path& path) const {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool ok = ::ftruncate(fd, off_t(size)) == 0;
    for (const Piece& piece : pieces) {
      ok = ok && ::pwrite(fd, piece.bytes.data(), piece.bytes.size(), off_t(piece.offset)) == ssize_t(piece.bytes.size());
    }
    return ::close(fd) == 0 && ok;
  }
};

struct BoundsCase {
  std::string name;
  SparseFile file;
  std::string answer;
  // Memory and CPU time the case may take beyond the limits for every run:
  // a compressed movie header is inflated in memory, up to a limit of its
  // own, which takes tens of milliseconds.
  std::uint64_t extraMemoryKiB = 0;
  double extraCpuSeconds = 0;
};

inline constexpr std::uint32_t kStoredFrame = 107892;  // 01:00:00;00 at 29.97 drop-frame

inline Bytes stcoRepeating(std::uint32_t offset, std::size_t count) {
  return stco(std::vector<std::uint64_t>(count, offset));
}

// One timecode track whose chunks all start at byte 0 and together claim
// samples over the whole file, of one constant size.
inline BoundsCase chunksOverTheWholeFile(std::string name, std::uint64_t fileSize, std::size_t chunks,
                                         std::uint32_t sampleSize, std::string_view format,
                                         std::uint8_t fill) {
  const std::uint32_t perChunk = std::uint32_t(fileSize / sampleSize);
  const Bytes movie = box("moov", {trak(1, "tmcd", box("stbl", {stsd({sampleEntry(format)}),
                                                                stsc({{1, perChunk, 1}}),
                                                                stszConstant(sampleSize, 0xFFFFFFFF),
                                                                stcoRepeating(0, chunks)}))});
  const Bytes head = cat({ftyp(), movie});
  return {std::move(name), SparseFile::dense(cat({head, box("mdat", {Bytes(fileSize - head.size() - 8, fill)})})),
          "0\n"};
}

// ftyp, a 64-bit mdat over the whole file and a movie at its very end.
inline SparseFile movieAtTheEndOf(std::uint64_t size, const Bytes& movie) {
  const std::uint64_t movieAt = size - movie.size();
  const Bytes head = cat({ftyp(), u32(1), text("mdat"), u64(movieAt - ftyp().size())});
  return {{{0, head}, {movieAt, movie}}, size};
}

// `count` timecode tracks with a header and a handler but no sample table,
// then one that holds the stored frame.
inline BoundsCase timecodeTracksWithoutTables(std::string name, std::uint32_t count, bool withDefaults) {
  const Bytes file = movieAfterMedia(u32(kStoredFrame), [&](std::uint64_t start) {
    Bytes tracks, defaults;
    for (std::uint32_t id = 1; id <= count; ++id) {
      append(tracks, box("trak", {tkhd(id), box("mdia", {handler("tmcd")})}));
      append(defaults, trex(id, 1, 4));
    }
    append(tracks, trak(count + 1, "tmcd", timecodeTable(start)));
    append(defaults, trex(count + 1, 1, 4));
    return box("moov", {tracks, withDefaults ? box("mvex", {defaults}) : Bytes{}});
  });
  return {std::move(name), SparseFile::dense(file), std::to_string(kStoredFrame) + "\n"};
}

// `tracks` timecode tracks, each with one track fragment in each of
// `fragments` movie fragments; only the last one holds a sample.
inline BoundsCase timecodeTracksTimesFragments(std::string name, std::uint32_t tracks, std::uint32_t fragments) {
  Bytes entries, defaults;
  for (std::uint32_t id = 1; id <= tracks; ++id) {
    append(entries, emptyTrack(id, "tmcd"));
    append(defaults, trex(id, 1, 4));
  }
  Bytes file = cat({ftyp(), box("moov", {entries, box("mvex", {defaults})})});
  for (std::uint32_t f = 1; f <= fragments; ++f) {
    const bool last = f == fragments;
    appendFragment(
        file,
        [&](std::uint64_t moofAt, std::uint64_t dataAt) {
          Bytes trafs;
          for (std::uint32_t id = 1; id <= tracks; ++id) {
            const std::uint32_t count = last && id == tracks ? 1 : 0;
            append(trafs, traf({tfhd(kBaseIsMoof, id), trun(kDataOffset, count, {u32(dataAt - moofAt)})}));
          }
          return box("moof", {fullBox("mfhd", 0, 0, {u32(f)}), trafs});
        },
        last ? u32(kStoredFrame) : Bytes{});
  }
  return {std::move(name), SparseFile::dense(file), std::to_string(kStoredFrame) + "\n"};
}

// One movie fragment: `before` track fragments of `beforeTrack`, each placed
// where the one before it ends, then the timecode track's.
inline BoundsCase implicitBasesInOneFragment(std::string name, std::uint32_t before, std::uint32_t beforeTrack) {
  const std::uint32_t beforeSize = beforeTrack == 1 ? 10 : 0;  // track 1 is video, 2 timecode
  Bytes file = cat({ftyp(), box("moov", {emptyTrack(1, "vide", {sampleEntry("avc1")}), emptyTrack(2, "tmcd"),
                                         box("mvex", {trex(1, 1, 10), trex(2, 1, 4)})})});
  const std::uint32_t beforeCount = beforeTrack == 1 ? 1 : 0;
  appendFragment(
      file,
      [&](std::uint64_t moofAt, std::uint64_t dataAt) {
        Bytes trafs = traf({tfhd(0, beforeTrack), trun(kDataOffset, beforeCount, {u32(dataAt - moofAt)})});
        for (std::uint32_t i = 1; i < before; ++i) append(trafs, traf({tfhd(0, beforeTrack), trun(0, beforeCount)}));
        append(trafs, traf({tfhd(0, 2), trun(0, 1)}));
        return box("moof", {fullBox("mfhd", 0, 0, {u32(1)}), trafs});
      },
      cat({Bytes(std::size_t(before) * beforeSize, 0xEE), u32(kStoredFrame)}));
  return {std::move(name), SparseFile::dense(file), std::to_string(kStoredFrame) + "\n"};
}

// `count` timecode tracks whose one sample is too short to decode, then one
// that holds the stored frame.
inline BoundsCase manyTracksOnlyTheLastGood(std::string name, std::uint32_t count) {
  const Bytes file = movieAfterMedia(u32(kStoredFrame), [&](std::uint64_t start) {
    Bytes tracks;
    for (std::uint32_t id = 1; id < count; ++id) {
      append(tracks, trak(id, "tmcd", timecodeTable(start, "tmcd", 2)));
    }
    append(tracks, trak(count, "tmcd", timecodeTable(start)));
    return box("moov", {tracks});
  });
  return {std::move(name), SparseFile::dense(file), std::to_string(kStoredFrame) + "\n"};
}

// `tracks` timecode tracks, each with one track fragment in each of
// `fragments` movie fragments. Every track fragment claims one sample, at an
// explicit data offset, of a description that is not a timecode format;
// only the last track's in the last movie fragment names the timecode one.
inline BoundsCase scatteredTimecodeTrackFragments(std::string name, std::uint32_t tracks, std::uint32_t fragments) {
  Bytes entries, defaults;
  for (std::uint32_t id = 1; id <= tracks; ++id) {
    append(entries, emptyTrack(id, "tmcd", {sampleEntry("tmcd"), sampleEntry("text")}));
    append(defaults, trex(id, 2, 4));
  }
  Bytes file = cat({ftyp(), box("moov", {entries, box("mvex", {defaults})})});
  Bytes data;
  for (std::uint32_t id = 1; id <= tracks; ++id) append(data, u32(kStoredFrame));
  for (std::uint32_t f = 1; f <= fragments; ++f) {
    appendFragment(
        file,
        [&](std::uint64_t moofAt, std::uint64_t dataAt) {
          Bytes trafs;
          for (std::uint32_t id = 1; id <= tracks; ++id) {
            const std::uint32_t description = f == fragments && id == tracks ? 1 : 2;
            append(trafs, traf({tfhd(kBaseIsMoof | kDescriptionIndex, id, {u32(description)}),
                                trun(kDataOffset, 1, {u32(dataAt + 4 * (id - 1) - moofAt)})}));
          }
          return box("moof", {fullBox("mfhd", 0, 0, {u32(f)}), trafs});
        },
        data);
  }
  return {std::move(name), SparseFile::dense(file), std::to_string(kStoredFrame) + "\n"};
}

// About `megabytes` of movie fragments of one timecode track, all of it
// track fragments of one sample each that name a `text` description. When
// `goodLast`, the last names the timecode description and holds the frame.
inline BoundsCase megabytesOfTrackFragments(std::string name, std::uint64_t megabytes, bool goodLast) {
  constexpr std::uint32_t kPerMovieFragment = 5000;
  Bytes file = cat({ftyp(), box("moov", {emptyTrack(1, "tmcd", {sampleEntry("tmcd"), sampleEntry("text")}),
                                         box("mvex", {trex(1, 1, 4)})})});
  const Bytes textFragment = traf({tfhd(kDescriptionIndex, 1, {u32(2)}), trun(0, 1)});
  Bytes trafs;
  for (std::uint32_t i = 0; i < kPerMovieFragment; ++i) append(trafs, textFragment);
  const Bytes movieFragment = box("moof", {fullBox("mfhd", 0, 0, {u32(1)}), trafs});
  const std::uint64_t count = (megabytes << 20) / movieFragment.size();
  file.reserve(file.size() + (count + 1) * movieFragment.size());
  for (std::uint64_t i = 0; i < count; ++i) append(file, movieFragment);
  // The last movie fragment: one more text track fragment, then perhaps the good one.
  appendFragment(
      file,
      [&](std::uint64_t, std::uint64_t dataAt) {
        const Bytes last = goodLast ? traf({tfhd(kBaseOffset | kDescriptionIndex, 1, {u64(dataAt), u32(1)}), trun(0, 1)})
                                    : textFragment;
        return box("moof", {fullBox("mfhd", 0, 0, {u32(2)}), textFragment, last});
      },
      u32(kStoredFrame));
  return {std::move(name), SparseFile::dense(std::move(file)), goodLast ? std::to_string(kStoredFrame) + "\n" : "0\n"};
}

inline std::vector<BoundsCase> boundsCases() {
  constexpr std::uint64_t kMiB = 1 << 20;
  constexpr std::uint64_t k100GiB = 100ull << 30;
  std::vector<BoundsCase> cases;

  // Hostile: each answers 0.
  cases.push_back(chunksOverTheWholeFile("chunksOfAnotherFormat", kMiB, 16384, 4096, "avc1", 0));
  cases.push_back(chunksOverTheWholeFile("chunksOfAnotherFormatStraddlingBlocks", kMiB, 16384, 8192, "avc1", 0));
  cases.push_back(chunksOverTheWholeFile("chunksOfTc64AboveTwoToThe32", kMiB, 16384, 4096, "tc64", 0xFF));
  cases.push_back(chunksOverTheWholeFile("chunksOfAnotherFormatIn4MiB", 4 * kMiB, 65536, 4096, "avc1", 0));
  cases.push_back({"sparse100GiBOfOneByteSamples",
                   movieAtTheEndOf(k100GiB, box("moov", {trak(1, "tmcd", box("stbl", {stsd({sampleEntry("tmcd")}),
                                                                                       stsc({{1, 0xFFFFFFFF, 1}}),
                                                                                       stszConstant(1, 0xFFFFFFFF),
                                                                                       stco({0})}))})),
                   "0\n"});
  {
    // A thousand runs of 2^32-1 one-byte samples, the first ones over the whole file.
    const Bytes movie = box("moov", {emptyTrack(1, "tmcd"), box("mvex", {trex(1, 1, 1)})});
    Bytes runs;
    for (int i = 0; i < 1000; ++i) append(runs, trun(0, 0xFFFFFFFF));
    const Bytes fragment = moof({traf({tfhd(kBaseOffset, 1, {u64(0)}), runs})});
    const Bytes head = cat({ftyp(), movie});
    const std::uint64_t fragmentAt = k100GiB - fragment.size();
    cases.push_back({"sparse100GiBOfRunsOfOneByteSamples",
                     {{{0, cat({head, u32(1), text("mdat"), u64(fragmentAt - head.size())})}, {fragmentAt, fragment}},
                      k100GiB},
                     "0\n"});
  }
  cases.push_back({"billionsOfEmptySamples",
                   SparseFile::dense(cat({ftyp(), box("moov", {trak(1, "tmcd", box("stbl", {stsd({sampleEntry("tmcd")}),
                                                                                           stsc({{1, 0xFFFFFFFF, 1}}),
                                                                                           stszConstant(0, 0xFFFFFFFF),
                                                                                           stco({0})}))})})),
                   "0\n"});
  cases.push_back({"oneGiganticSample",
                   SparseFile::dense(cat({ftyp(), box("moov", {trak(1, "tmcd", box("stbl", {stsd({sampleEntry("tmcd")}),
                                                                                           stsc({{1, 1, 1}}),
                                                                                           stszTable({0xFFFFFFFF}),
                                                                                           stco({0})}))})})),
                   "0\n"});
  {
    // Thousands of timecode tracks whose one sample is an undecodable tc64,
    // each to be looked for in a hundred thousand empty fragments.
    Bytes tracks, defaults;
    for (std::uint32_t id = 1; id <= 5000; ++id) {
      append(tracks, trak(id, "tmcd", timecodeTable(16, "tc64", 8)));
      append(defaults, trex(id, 1, 8));
    }
    Bytes file = cat({ftyp(), box("moov", {tracks, box("mvex", {defaults})})});
    for (int i = 0; i < 100000; ++i) append(file, box("moof"));
    file[16] = 0xFF;  // ftyp's last bytes become a tc64 value far above 2^32
    cases.push_back({"thousandsOfTracksTimesThousandsOfFragments", SparseFile::dense(file), "0\n"});
  }

  {
    // Compressed movie headers that inflate to far more than any real one.
    const std::uint64_t inflated = media::kMaxInflatedMovieSize >> 10;
    constexpr double kInflating = 0.4;  // about 45 ms today; well under a second in all
    const Bytes movie = movieBeforeMedia(u32(kStoredFrame), [](std::uint64_t start) {
      return box("moov", {trak(1, "tmcd", timecodeTable(start))});
    });
    const Bytes rest(movie.begin() + ftyp().size(), movie.end());
    cases.push_back({"compressedMovieOf1GiBOfZeros",
                     SparseFile::dense(cat({ftyp(), compressedMovieBox(deflateZeros(1024), 1u << 30), rest})),
                     "0\n", inflated, kInflating});
    cases.push_back({"compressedMovieClaiming4GiB",
                     SparseFile::dense(cat({ftyp(), compressedMovieBox(deflateZeros(64), 0xFFFFFFFF), rest})),
                     "0\n", inflated, kInflating});
  }

  // Well-formed: each answers the stored frame.
  cases.push_back(timecodeTracksWithoutTables("400TracksWithoutTablesThenAGoodOne", 400, true));
  cases.push_back(timecodeTracksWithoutTables("592TracksWithoutTablesOrDefaults", 592, false));
  cases.push_back(timecodeTracksTimesFragments("31TracksTimes200Fragments", 31, 200));
  cases.push_back(implicitBasesInOneFragment("423VideoTrackFragmentsBeforeTheTimecode", 423, 1));
  cases.push_back(manyTracksOnlyTheLastGood("20000TracksOnlyTheLastGood", 20000));
  cases.push_back(implicitBasesInOneFragment("4000TrackFragmentsInOneFragment", 4000, 2));
  cases.push_back(timecodeTracksTimesFragments("200TracksTimes200Fragments", 200, 200));
  cases.push_back(scatteredTimecodeTrackFragments("200TracksTimes200ScatteredFragments", 200, 200));
  // Fragment metadata read once, in file order, in memory that does not follow it.
  constexpr double kWalking100MB = 0.5;  // about 0.2 s today
  cases.push_back({megabytesOfTrackFragments("25MBOfTextTrackFragments", 25, false)});
  cases.back().extraCpuSeconds = kWalking100MB / 4;
  cases.push_back({megabytesOfTrackFragments("100MBOfTextTrackFragments", 100, false)});
  cases.back().extraCpuSeconds = kWalking100MB;
  cases.push_back({megabytesOfTrackFragments("100MBOfTextTrackFragmentsThenAGoodOne", 100, true)});
  cases.back().extraCpuSeconds = kWalking100MB;
  return cases;
}

}  // namespace ostrel::testing
