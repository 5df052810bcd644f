#include <ostrel/ostrel.h>

#include <gtest/gtest.h>

#include "Support/BoxWriter.h"
#include "Support/TempFile.h"

namespace ostrel::testing {
namespace {

// A movie whose tracks each hold the media bytes given for them, one chunk a track.
struct TrackBytes {
  std::string_view mediaType;
  Bytes samples;                            // stored back to back in one chunk
  std::initializer_list<std::string_view> formats;  // one description per sample
  std::initializer_list<std::uint32_t> sizes;
};

Bytes movieOf(std::initializer_list<TrackBytes> tracks) {
  Bytes media;
  for (const TrackBytes& t : tracks) append(media, t.samples);
  return movieAfterMedia(media, [&](std::uint64_t start) {
    Bytes traks;
    std::uint32_t id = 1;
    for (const TrackBytes& t : tracks) {
      Bytes entries;
      Bytes runs = u32(t.sizes.size());
      std::uint32_t chunk = 1;
      for (std::string_view format : t.formats) {
        append(entries, sampleEntry(format));
        append(runs, cat({u32(chunk), u32(1), u32(chunk)}));
        ++chunk;
      }
      Bytes sizes = cat({u32(0), u32(t.sizes.size())});
      Bytes offsets = u32(t.sizes.size());
      for (std::uint32_t size : t.sizes) {
        append(sizes, u32(size));
        append(offsets, u32(start));
        start += size;
      }
      append(traks, trak(id++, t.mediaType,
                         box("stbl", {fullBox("stsd", 0, 0, {u32(t.formats.size()), entries}),
                                      fullBox("stsc", 0, 0, {runs}), fullBox("stsz", 0, 0, {sizes}),
                                      fullBox("stco", 0, 0, {offsets})})));
    }
    return box("moov", {traks});
  });
}

std::optional<StartFrame> scan(const Bytes& file) { return readStartFrame(file.data(), file.size()); }

TEST(Scan, VideoTrackBeforeTimecodeTrackIsSkipped) {
  // The video track's sample would decode as 7 if it were read as timecode.
  EXPECT_EQ(scan(movieOf({{"vide", u32(7), {"tmcd"}, {4}}, {"tmcd", u32(300), {"tmcd"}, {4}}})), 300u);
}

TEST(Scan, FirstTimecodeTrackWithADecodableSampleWins) {
  EXPECT_EQ(scan(movieOf({{"tmcd", {}, {}, {}}, {"tmcd", u32(300), {"tmcd"}, {4}}})), 300u);
  EXPECT_EQ(scan(movieOf({{"tmcd", u32(11), {"tmcd"}, {4}}, {"tmcd", u32(22), {"tmcd"}, {4}}})), 11u);
}

TEST(Scan, UndecodableSamplesMoveOnToTheNextSampleAndTrack) {
  // Another subtype, then tc64 below 2^32.
  EXPECT_EQ(scan(movieOf({{"tmcd", cat({u32(5), u64(300)}), {"avc1", "tc64"}, {4, 8}}})), 300u);
  // tc64 of 2^32 or more is no start frame; the next sample is.
  EXPECT_EQ(scan(movieOf({{"tmcd", cat({u64(1ull << 32), u32(9)}), {"tc64", "tmcd"}, {8, 4}}})), 9u);
  // A sample too short for its payload; then the next track.
  EXPECT_EQ(scan(movieOf({{"tmcd", u16(1), {"tmcd"}, {2}}, {"tmcd", u32(300), {"tmcd"}, {4}}})), 300u);
  // Nothing decodes anywhere.
  EXPECT_EQ(scan(movieOf({{"tmcd", u64(1ull << 40), {"tc64"}, {8}}, {"vide", u32(1), {"tmcd"}, {4}}})),
            std::nullopt);
}

TEST(Scan, GivesUpAfterAThousandSamplesThatDoNotDecode) {
  // Chunk 1 holds tc64 samples of 2^32 or more, chunk 2 one tmcd sample.
  const auto movie = [](std::uint32_t undecodable) {
    Bytes media(std::size_t(undecodable) * 8, 0xFF);
    append(media, u32(300));
    return movieAfterMedia(media, [&](std::uint64_t start) {
      std::vector<std::uint32_t> sizes(undecodable, 8);
      sizes.push_back(4);
      return box("moov", {trak(1, "tmcd", box("stbl", {stsd({sampleEntry("tc64"), sampleEntry("tmcd")}),
                                                       stsc({{1, undecodable, 1}, {2, 1, 2}}), stszTable(sizes),
                                                       stco({start, start + undecodable * 8ull})}))});
    });
  };
  EXPECT_EQ(scan(movie(999)), 300u);
  EXPECT_EQ(scan(movie(1000)), std::nullopt);

  // tc64 samples of 4 bytes are too short to try, however many there are.
  const Bytes media = cat({zeros(4 * 1000), u32(300)});
  const Bytes shortSamples = movieAfterMedia(media, [](std::uint64_t start) {
    std::vector<std::uint32_t> sizes(1000, 4);
    sizes.push_back(4);
    return box("moov", {trak(1, "tmcd", box("stbl", {stsd({sampleEntry("tc64"), sampleEntry("tmcd")}),
                                                     stsc({{1, 1000, 1}, {2, 1, 2}}), stszTable(sizes),
                                                     stco({start, start + 4000})}))});
  });
  EXPECT_EQ(scan(shortSamples), 300u);
}

TEST(Scan, DisabledTrackIsScannedLikeAnyOther) {
  const Bytes file = movieAfterMedia(u32(300), [](std::uint64_t start) {
    Bytes track = trak(1, "tmcd", timecodeTable(start));
    track[8 + 8 + 3] = 0;  // tkhd flags: neither enabled nor in movie
    return box("moov", {track});
  });
  EXPECT_EQ(scan(file), 300u);
}

TEST(Scan, FilesWithoutTracksGiveNothing) {
  EXPECT_EQ(scan({}), std::nullopt);
  EXPECT_EQ(scan(cat({ftyp(), box("moov")})), std::nullopt);
  EXPECT_EQ(scan(text("not a movie at all")), std::nullopt);
}

TEST(Scan, ReadsFromAPath) {
  const TempFile file(movieOf({{"tmcd", u32(0xFFFFFFFF), {"tmcd"}, {4}}}));
  EXPECT_EQ(readStartFrame(file.path()), 0xFFFFFFFFu);
  EXPECT_EQ(readStartFrame(file.path().parent_path() / "missing.mov"), std::nullopt);
}

}  // namespace
}  // namespace ostrel::testing
