#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <string>

#include "Media/ByteReader.h"
#include "Media/ByteView.h"
#include "Media/Fields.h"
#include "Support/BoxWriter.h"
#include "Support/Samples.h"
#include "Support/TempFile.h"

namespace ostrel::testing {
namespace {

using media::Asset;

Bytes sample300() { return u32(300); }

// A timecode track and a movie after the media that holds its one sample.
Bytes timecodeMovie(std::uint64_t trackOffsetShift = 0) {
  return movieAfterMedia(sample300(), [&](std::uint64_t start) {
    return box("moov", {trak(1, "tmcd", timecodeTable(start + trackOffsetShift))});
  });
}

std::vector<Delivered> onlySample300() { return {{"tmcd", {0, 0, 1, 0x2C}, 4}}; }

TEST(BoxSizes, SixtyFourBitSizeAndUnknownBoxesArePassedOver) {
  // No ftyp; wide, free, skip and an unknown box, then media with a 64-bit size.
  const Bytes head = cat({box("wide"), box("free", {zeros(5)}), box("skip"), box("abcd", {u32(7)})});
  const std::uint64_t start = head.size() + 16;
  const Bytes file = cat({head, box64("mdat", {sample300()}),
                          box("moov", {trak(1, "tmcd", timecodeTable(start))})});
  const Asset asset = Asset::openBytes(file);
  EXPECT_EQ(samplesOfTrack(asset, 0), onlySample300());
}

// The same box with a 64-bit size.
Bytes widened(const Bytes& box) {
  return cat({u32(1), Bytes(box.begin() + 4, box.begin() + 8), u64(box.size() + 8), Bytes(box.begin() + 8, box.end())});
}

TEST(BoxSizes, UnusualButValidSizesKeepTheWalkGoing) {
  struct Case {
    const char* name;
    Bytes file;
  };
  const auto movie = [](bool wideMovie, bool wideTrack, bool wideTable) {
    return movieAfterMedia(sample300(), [=](std::uint64_t start) {
      const Bytes table = timecodeTable(start);
      const Bytes track = trak(1, "tmcd", wideTable ? widened(table) : table);
      const Bytes moov = box("moov", {wideTrack ? widened(track) : track});
      return wideMovie ? widened(moov) : moov;
    });
  };
  const Bytes empty = box("free");  // exactly as long as its header
  const Bytes emptyBoxFirst = cat({ftyp(), empty, box("mdat", {sample300()}),
                                   box("moov", {trak(1, "tmcd", timecodeTable(ftyp().size() + empty.size() + 8))})});
  const Case cases[] = {
      {"sixtyFourBitMovie", movie(true, false, false)},
      {"sixtyFourBitTrack", movie(false, true, false)},
      {"sixtyFourBitSampleTable", movie(false, false, true)},
      {"emptyBoxBeforeTheMovie", emptyBoxFirst},
  };
  for (const Case& c : cases) EXPECT_EQ(samplesOfTrack(Asset::openBytes(c.file), 0), onlySample300()) << c.name;
}

TEST(BoxSizes, ZeroSizeAtTopLevelRunsToEndOfFile) {
  Bytes file = timecodeMovie();
  const std::size_t moovAt = file.size() - box("moov", {trak(1, "tmcd", timecodeTable(0))}).size();
  file[moovAt] = file[moovAt + 1] = file[moovAt + 2] = file[moovAt + 3] = 0;
  EXPECT_EQ(samplesOfTrack(Asset::openBytes(file), 0), onlySample300());
}

TEST(BoxSizes, ZeroWordInsideContainerEndsItsList) {
  // A whole timecode track follows the zero: read as a size running to the
  // end of the movie, the zero would make it a box to list.
  const Bytes file = movieAfterMedia(sample300(), [](std::uint64_t start) {
    Bytes hidden = trak(2, "tmcd", timecodeTable(start));
    hidden[0] = hidden[1] = hidden[2] = hidden[3] = 0;
    return box("moov", {trak(1, "vide", timecodeTable(start)), hidden});
  });
  EXPECT_EQ(mediaTypes(Asset::openBytes(file)), std::vector<std::string>{"vide"});
}

TEST(BoxSizes, WalkInMemoryKeepsToTheWindow) {
  // Bytes 100 to 124 of a source: a box that claims 1000 bytes, then fields.
  const Bytes bytes = cat({u32(1000), text("abcd"), u32(7), u32(8), u32(9), u32(10)});
  const media::ByteView window(100, bytes);
  std::array<std::uint8_t, 4> out;
  EXPECT_FALSE(window.read(99, out));
  EXPECT_TRUE(window.read(120, out));
  EXPECT_FALSE(window.read(121, out));

  media::BasicChildBoxes<media::ByteView> children(window, 100, 2000);
  const std::optional<media::Box> clipped = children.next();
  ASSERT_TRUE(clipped);
  EXPECT_EQ(clipped->size, 24u);
  EXPECT_FALSE(children.next());

  // A range that starts outside the window holds no fields; one that runs
  // past its end stops there.
  EXPECT_FALSE(media::BasicFields<media::ByteView>(window, 96, 110).u32());
  media::BasicFields<media::ByteView> tail(window, 116, 200);
  EXPECT_EQ(tail.u32(), 9u);
  EXPECT_EQ(tail.u32(), 10u);
  EXPECT_FALSE(tail.u8());
  EXPECT_FALSE(tail.ok());
}

// Counts the calls a reader makes to its source.
class CountingSource : public media::ByteSource {
 public:
  explicit CountingSource(std::uint64_t size, int* calls) : size_(size), calls_(calls) {}
  std::uint64_t size() const override { return size_; }
  std::size_t readAt(std::uint64_t offset, std::span<std::uint8_t> out) const override {
    ++*calls_;
    const std::size_t count = std::min<std::uint64_t>(out.size(), size_ - offset);
    std::fill_n(out.begin(), count, std::uint8_t{0});
    return count;
  }

 private:
  std::uint64_t size_;
  int* calls_;
};

TEST(Reading, AWalkThroughTheFileReadsAheadAndAJumpReadsOneBlock) {
  int calls = 0;
  const media::ByteReader reader(std::make_unique<CountingSource>(1 << 20, &calls));
  for (std::uint64_t at = 0; at < (1 << 20); at += 8) ASSERT_TRUE(reader.u64(at));
  // 4, 8 and 16 KiB, then 16 KiB at a time.
  EXPECT_EQ(calls, 2 + (1 << 20) / (16 << 10));

  calls = 0;
  for (std::uint64_t at = 0; at < (1 << 20); at += 64 << 10) ASSERT_TRUE(reader.u32(at + 100));
  EXPECT_EQ(calls, 16);  // one block at each place, none ahead
}

TEST(BoxSizes, MovieBeforeMedia) {
  const Bytes file = movieBeforeMedia(sample300(), [](std::uint64_t start) {
    return box("moov", {trak(1, "tmcd", timecodeTable(start))});
  });
  EXPECT_EQ(samplesOfTrack(Asset::openBytes(file), 0), onlySample300());
}

TEST(BoxSizes, BrokenHeadersEndTheListWithoutLeavingTheParent) {
  struct Case {
    const char* name;
    Bytes movie;
    std::vector<std::string> types;
  };
  const Bytes videoTrack = trak(1, "vide", timecodeTable(0));
  // A header longer than its declared size.
  Bytes shortHeader = cat({u32(4), text("trak")});
  // A box that claims more than its parent holds is clipped to the parent.
  Bytes overlong = box("trak", {box("mdia", {handler("tmcd")})});
  overlong[3] = 0xFF;
  const Case cases[] = {
      {"shortHeader", box("moov", {videoTrack, shortHeader, videoTrack}), {"vide"}},
      {"overlongChild", box("moov", {videoTrack, overlong}), {"vide", "tmcd"}},
      {"sizeOneWithoutRoom", box("moov", {videoTrack, cat({u32(1), text("trak"), u32(0)})}), {"vide"}},
  };
  for (const Case& c : cases) {
    const Bytes file = cat({ftyp(), c.movie, box("free", {box("trak", {box("mdia", {handler("soun")})})})});
    EXPECT_EQ(mediaTypes(Asset::openBytes(file)), c.types) << c.name;
  }
}

TEST(Tracks, MediaTypeIsTheMediaHandlerNotTheDataHandler) {
  // QuickTime keeps a data handler ('dhlr'/'alis') in minf; only mdia's handler names the media.
  const Bytes dataHandler = fullBox("hdlr", 0, 0, {text("dhlr"), text("tmcd"), zeros(12), u8(0)});
  const Bytes noMediaHandler =
      box("trak", {box("mdia", {box("minf", {dataHandler, timecodeTable(0)})})});
  const Bytes file = cat({ftyp(), box("moov", {noMediaHandler, trak(2, "vide", timecodeTable(0))})});
  EXPECT_EQ(mediaTypes(Asset::openBytes(file)), (std::vector<std::string>{std::string(4, '\0'), "vide"}));
}

TEST(Tracks, TheFirstChildOfAKindWins) {
  // Two handlers in mdia: the first says what the track holds.
  const Bytes twoHandlers = movieAfterMedia(sample300(), [](std::uint64_t start) {
    return box("moov", {box("trak", {tkhd(1), box("mdia", {handler("tmcd"), handler("vide"),
                                                           box("minf", {timecodeTable(start)})})})});
  });
  EXPECT_EQ(mediaTypes(Asset::openBytes(twoHandlers)), std::vector<std::string>{"tmcd"});
  EXPECT_EQ(samplesOfTrack(Asset::openBytes(twoHandlers), 0), onlySample300());
  // Two chunk offset tables in stbl: the second points past the end.
  const Bytes twoOffsetTables = movieAfterMedia(sample300(), [](std::uint64_t start) {
    return box("moov", {trak(1, "tmcd", box("stbl", {stsd({sampleEntry("tmcd")}), stsc({{1, 1, 1}}), stszTable({4}),
                                                     stco({start}), stco({start + 1000000})}))});
  });
  EXPECT_EQ(samplesOfTrack(Asset::openBytes(twoOffsetTables), 0), onlySample300());
}

TEST(SampleTables, ChunksRunsAndDescriptionsAreFollowedInOrder) {
  // Chunk 1: two 'tmcd' samples; chunks 2-3: one 'tc64' sample each; chunk 4: back to 'tmcd'.
  const Bytes media = cat({u32(1), u32(2), u64(3), u64(4), u32(5)});
  const Bytes file = movieAfterMedia(media, [](std::uint64_t s) {
    return box("moov", {trak(1, "tmcd",
                             box("stbl", {stsd({sampleEntry("tmcd"), sampleEntry("tc64")}),
                                          stsc({{1, 2, 1}, {2, 1, 2}, {4, 1, 1}}),
                                          // Five sizes counted; the box holds two more.
                                          fullBox("stsz", 0, 0, {u32(0), u32(5), u32(4), u32(4), u32(8),
                                                                 u32(8), u32(4), u32(99), u32(99)}),
                                          stco({s, s + 8, s + 16, s + 24})}))});
  });
  const std::vector<Delivered> expected = {
      {"tmcd", {0, 0, 0, 1}, 4}, {"tmcd", {0, 0, 0, 2}, 4},
      {"tc64", {0, 0, 0, 0, 0, 0, 0, 3}, 8}, {"tc64", {0, 0, 0, 0, 0, 0, 0, 4}, 8},
      {"tmcd", {0, 0, 0, 5}, 4}};
  EXPECT_EQ(samplesOfTrack(Asset::openBytes(file), 0), expected);
}

TEST(SampleTables, CompactSizeFieldsOfEachWidth) {
  // Sizes 4, 8 and 4 in two chunks, so that the second chunk starts at an
  // odd entry of a 4-bit table.
  const Bytes media = cat({u32(7), u64(8), u32(9)});
  for (unsigned bits : {4u, 8u, 16u}) {
    Bytes fields;
    if (bits == 4) fields = {0x48, 0x4F};  // the last nibble is padding
    if (bits == 8) fields = {4, 8, 4};
    if (bits == 16) fields = cat({u16(4), u16(8), u16(4)});
    const Bytes file = movieAfterMedia(media, [&](std::uint64_t s) {
      return box("moov", {trak(1, "tmcd",
                               box("stbl", {stsd({sampleEntry("tmcd")}), stsc({{1, 1, 1}, {2, 2, 1}}),
                                            fullBox("stz2", 0, 0, {u24(0), u8(bits), u32(3), fields}),
                                            stco({s, s + 4})}))});
    });
    const std::vector<Delivered> expected = {
        {"tmcd", {0, 0, 0, 7}, 4}, {"tmcd", {0, 0, 0, 0, 0, 0, 0, 8}, 8}, {"tmcd", {0, 0, 0, 9}, 4}};
    EXPECT_EQ(samplesOfTrack(Asset::openBytes(file), 0), expected) << bits << "-bit";
  }
}

TEST(SampleTables, CountsBeyondTheirBoxesAreClipped) {
  struct Case {
    const char* name;
    Bytes file;
  };
  const Case cases[] = {
      // Each table claims a billion entries. stsc and stco hold one; stsz
      // holds three, so only the clip of stco keeps chunks 2 and 3 from being
      // read out of the stsz header that follows it.
      {"chunkOffsets", movieAfterMedia(sample300(), [](std::uint64_t s) {
         return box("moov", {trak(1, "tmcd",
                                  box("stbl", {stsd({sampleEntry("tmcd")}),
                                               fullBox("stsc", 0, 0, {u32(1000000000), u32(1), u32(1), u32(1)}),
                                               fullBox("stco", 0, 0, {u32(1000000000), u32(s)}),
                                               fullBox("stsz", 0, 0, {u32(0), u32(1000000000), u32(4), u32(4), u32(4)})}))});
       })},
      // A chunk of two samples, but stsz holds one size: read past its box,
      // the second size would be the header of the stco after it.
      {"sampleSizes", movieAfterMedia(cat({sample300(), zeros(40)}), [](std::uint64_t s) {
         return box("moov", {trak(1, "tmcd",
                                  box("stbl", {stsd({sampleEntry("tmcd")}), stsc({{1, 2, 1}}),
                                               fullBox("stsz", 0, 0, {u32(0), u32(1000000000), u32(4)}), stco({s})}))});
       })},
  };
  for (const Case& c : cases) EXPECT_EQ(samplesOfTrack(Asset::openBytes(c.file), 0), onlySample300()) << c.name;
}

TEST(SampleTables, ChunkRunEntriesThatDoNotFollowAreIgnored) {
  // The third stsc entry goes back to chunk 2, or names chunk 3 again: either
  // way chunk 4 stays in the second run.
  const Bytes media = cat({u32(1), u32(2), u64(3), u64(4)});
  const std::vector<Delivered> expected = {{"tmcd", {0, 0, 0, 1}, 4}, {"tmcd", {0, 0, 0, 2}, 4},
                                           {"tc64", {0, 0, 0, 0, 0, 0, 0, 3}, 8},
                                           {"tc64", {0, 0, 0, 0, 0, 0, 0, 4}, 8}};
  for (const std::uint32_t third : {2u, 3u}) {
    const Bytes file = movieAfterMedia(media, [&](std::uint64_t s) {
      return box("moov", {trak(1, "tmcd",
                               box("stbl", {stsd({sampleEntry("tmcd"), sampleEntry("tc64")}),
                                            stsc({{1, 1, 1}, {3, 1, 2}, {third, 1, 1}}), stszTable({4, 4, 8, 8}),
                                            stco({s, s + 4, s + 8, s + 16})}))});
    });
    EXPECT_EQ(samplesOfTrack(Asset::openBytes(file), 0), expected) << "third entry at chunk " << third;
  }
}

TEST(SampleTables, LargeSampleHoldsABoundedPrefix) {
  Bytes media = u32(300);
  append(media, Bytes(100000, 0xAB));
  const Bytes file = movieAfterMedia(media, [&](std::uint64_t s) {
    return box("moov", {trak(1, "tmcd", timecodeTable(s, "tmcd", std::uint32_t(media.size())))});
  });
  const std::vector<Delivered> got = samplesOfTrack(Asset::openBytes(file), 0);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].totalLength, media.size());
  EXPECT_EQ(got[0].prefix.size(), media::Sample::kHeldBytes);
  EXPECT_EQ(Bytes(got[0].prefix.begin(), got[0].prefix.begin() + 4), u32(300));
}

TEST(SampleTables, OnlyWantedFormatsOfTheirSizeAreDelivered) {
  // Chunks 1-3 hold two 3-byte video samples each; chunk 4 a tmcd sample, and
  // then a tc64 sample too short for its payload. Passing over the video
  // chunks whole must still count their samples.
  const Bytes media = cat({Bytes(18, 0xEE), u32(300), u32(7)});
  const Bytes file = movieAfterMedia(media, [](std::uint64_t s) {
    return box("moov", {trak(1, "tmcd",
                             box("stbl", {stsd({sampleEntry("avc1"), sampleEntry("tmcd"), sampleEntry("tc64")}),
                                          stsc({{1, 2, 1}, {4, 1, 2}, {5, 1, 3}}),
                                          stszTable({3, 3, 3, 3, 3, 3, 4, 4}),
                                          stco({s, s + 6, s + 12, s + 18, s + 22})}))});
  });
  const Asset asset = Asset::openBytes(file);
  const media::WantedFormat timecode[] = {{media::fourCC("tmcd"), 4}, {media::fourCC("tc64"), 8}};
  media::TrackReader reader(asset, *trackAt(asset, 0), timecode);
  const std::optional<media::Sample> sample = reader.next();
  ASSERT_TRUE(sample.has_value());
  EXPECT_EQ(formatName(sample->format), "tmcd");
  EXPECT_EQ(Bytes(sample->bytes().begin(), sample->bytes().end()), u32(300));
  EXPECT_FALSE(reader.next().has_value());
  EXPECT_EQ(samplesOfTrack(asset, 0).size(), 8u);  // asking for everything
}

TEST(SampleTables, EntriesPastTheirListsCountAreNotUsed) {
  // Each list counts one entry and holds two; the sample needs the second.
  const Bytes twoDescriptions = movieAfterMedia(sample300(), [](std::uint64_t s) {
    return box("moov", {trak(1, "tmcd",
                             box("stbl", {fullBox("stsd", 0, 0, {u32(1), sampleEntry("avc1"), sampleEntry("tmcd")}),
                                          stsc({{1, 1, 2}}), stszTable({4}), stco({s})}))});
  });
  const Bytes twoReferences = movieAfterMedia(sample300(), [](std::uint64_t s) {
    return box("moov", {trak(1, "tmcd",
                             box("stbl", {stsd({sampleEntry("tmcd", 2)}), stsc({{1, 1, 1}}), stszTable({4}), stco({s})}),
                             box("dinf", {fullBox("dref", 0, 0, {u32(1), elsewhere("file:///a.mov"), selfContained()})}))});
  });
  EXPECT_TRUE(samplesOfTrack(Asset::openBytes(twoDescriptions), 0).empty());
  EXPECT_TRUE(samplesOfTrack(Asset::openBytes(twoReferences), 0).empty());
}

TEST(DataReferences, SamplesInAnotherFileHaveNoData) {
  // Description 1 refers to another file, description 2 to this one.
  const Bytes media = cat({u32(1), u32(2)});
  const Bytes file = movieAfterMedia(media, [](std::uint64_t s) {
    const Bytes table = box("stbl", {stsd({sampleEntry("tmcd", 1), sampleEntry("tmcd", 2)}),
                                     stsc({{1, 1, 1}, {2, 1, 2}}), stszTable({4, 4}), stco({s, s + 4})});
    return box("moov", {trak(1, "tmcd", table,
                             box("dinf", {dref({elsewhere("file:///elsewhere.mov"), selfContained()})}))});
  });
  EXPECT_EQ(samplesOfTrack(Asset::openBytes(file), 0),
            (std::vector<Delivered>{{"tmcd", {0, 0, 0, 2}, 4}}));
}

TEST(DataReferences, ATrackWithoutReferencesKeepsItsSamplesHere) {
  const Bytes file = movieAfterMedia(sample300(), [](std::uint64_t s) {
    return box("moov", {trak(1, "tmcd", timecodeTable(s), box("dinf"))});
  });
  EXPECT_EQ(samplesOfTrack(Asset::openBytes(file), 0), onlySample300());
}

TEST(DataReferences, IndexOutsideTheListHasNoData) {
  const Bytes file = movieAfterMedia(sample300(), [](std::uint64_t s) {
    return box("moov", {trak(1, "tmcd",
                             box("stbl", {stsd({sampleEntry("tmcd", 3)}), stsc({{1, 1, 1}}),
                                          stszTable({4}), stco({s})}))});
  });
  EXPECT_TRUE(samplesOfTrack(Asset::openBytes(file), 0).empty());
}

TEST(EndOfFile, SamplesNotWhollyInTheFileHaveNoData) {
  // Three samples in one chunk, at the very end of the file; the last two
  // bytes of the third are there or not.
  for (const bool whole : {true, false}) {
    const Bytes media = cat({u32(1), u32(2), whole ? u32(3) : u16(0)});
    const Bytes file = movieBeforeMedia(media, [](std::uint64_t start) {
      return box("moov", {trak(1, "tmcd",
                               box("stbl", {stsd({sampleEntry("tmcd")}), stsc({{1, 3, 1}}),
                                            stszConstant(4, 3), stco({start})}))});
    });
    std::vector<Delivered> expected = {{"tmcd", {0, 0, 0, 1}, 4}, {"tmcd", {0, 0, 0, 2}, 4}};
    if (whole) expected.push_back({"tmcd", {0, 0, 0, 3}, 4});
    EXPECT_EQ(samplesOfTrack(Asset::openBytes(file), 0), expected) << (whole ? "whole" : "cut short");
  }
}

TEST(LargeFiles, ChunkOffsetPastFourGiB) {
  // A sparse file: the movie at the start, the sample at 5 GiB.
  const std::uint64_t sampleAt = 5ull << 30;
  const Bytes head = cat({ftyp(), box("moov", {trak(1, "tmcd",
                                                    box("stbl", {stsd({sampleEntry("tmcd")}), stsc({{1, 1, 1}}),
                                                                 stszTable({4}), co64({sampleAt})}))})});
  TempFile file;
  ASSERT_TRUE(file.write(0, head));
  ASSERT_TRUE(file.write(sampleAt, u32(300)));
  EXPECT_EQ(samplesOfTrack(Asset::open(file.path()), 0), onlySample300());
}

TEST(EndOfFile, FileCutShortWhileItIsRead) {
  const Bytes file = movieBeforeMedia(cat({zeros(3 * 4096), u32(300)}), [](std::uint64_t start) {
    return box("moov", {trak(1, "tmcd", timecodeTable(start + 3 * 4096))});
  });
  const std::uint64_t sampleAt = file.size() - 4;
  // Cut a block before the sample, or exactly where the read of the sample starts.
  for (const std::uint64_t cut : {file.size() - 4096, sampleAt}) {
    TempFile temp(file);
    const Asset asset = Asset::open(temp.path());
    std::filesystem::resize_file(temp.path(), cut);
    EXPECT_TRUE(samplesOfTrack(asset, 0).empty()) << "cut at " << cut;
  }
}

}  // namespace
}  // namespace ostrel::testing
