#include <ostrel/ostrel.h>

#include <gtest/gtest.h>

#include "App/Scan.h"

#include "Support/BoundsCases.h"
#include "Support/BoxWriter.h"
#include "Support/Samples.h"

namespace ostrel::testing {
namespace {

using media::Asset;

// The default movie: video track 1, timecode track 2 with 'tmcd' and 'tc64'
// descriptions; trex gives the timecode track description 1 and size 4.
Bytes defaultMovie(std::uint32_t timecodeDefaultSize = 4) {
  return box("moov", {emptyTrack(1, "vide", {sampleEntry("avc1")}),
                      emptyTrack(2, "tmcd", {sampleEntry("tmcd"), sampleEntry("tc64")}),
                      box("mvex", {trex(1, 1, 0), trex(2, 1, timecodeDefaultSize)})});
}

struct Fragment {
  MakeFragment moof;
  Bytes data;
};

Bytes fragmentedMovie(const Bytes& movie, std::initializer_list<Fragment> fragments) {
  Bytes file = cat({ftyp(), movie});
  for (const Fragment& fragment : fragments) appendFragment(file, fragment.moof, fragment.data);
  return file;
}

std::vector<Delivered> timecodeSamples(const Bytes& file) {
  return samplesOfTrack(Asset::openBytes(file), 1);
}
const std::vector<Delivered> kOnly300 = {{"tmcd", {0, 0, 1, 0x2C}, 4}};

TEST(FragmentBase, EachRuleFindsTheSample) {
  // Video data of 10 bytes, then the timecode sample.
  const Bytes data = cat({Bytes(10, 0xEE), u32(300)});
  struct Case {
    const char* name;
    MakeFragment moof;
  };
  const Case cases[] = {
      {"explicitBase",
       [](std::uint64_t, std::uint64_t dataAt) {
         return moof({traf({tfhd(kBaseOffset, 2, {u64(dataAt + 10)}), trun(0, 1)})});
       }},
      {"baseIsMoofAfterAnotherTracksData",
       [](std::uint64_t moofAt, std::uint64_t dataAt) {
         // Were the base implicit, it would be where the video data ends.
         return moof({traf({tfhd(kBaseOffset, 1, {u64(dataAt)}), trun(kSize, 1, {u32(10)})}),
                      traf({tfhd(kBaseIsMoof, 2), trun(kDataOffset, 1, {u32(dataAt + 10 - moofAt)})})});
       }},
      {"firstFragmentStartsAtMoof",
       [](std::uint64_t moofAt, std::uint64_t dataAt) {
         return moof({traf({tfhd(0, 2), trun(kDataOffset, 1, {u32(dataAt + 10 - moofAt)})})});
       }},
      {"laterFragmentStartsWhereThePreviousDataEnds",
       [](std::uint64_t moofAt, std::uint64_t dataAt) {
         return moof({traf({tfhd(0, 1), trun(kDataOffset | kSize, 2, {u32(dataAt - moofAt), u32(6), u32(4)})}),
                      traf({tfhd(0, 2), trun(0, 1)})});
       }},
      {"runWithoutADescriptionIsPassedOver",
       [](std::uint64_t, std::uint64_t dataAt) {
         // The first run's two 5-byte samples are another format.
         return moof({traf({tfhd(kBaseOffset | kDescriptionIndex, 2, {u64(dataAt), u32(3)}),
                            trun(kSize, 2, {u32(5), u32(5)})}),
                      traf({tfhd(kBaseOffset, 2, {u64(dataAt + 10)}), trun(0, 1)})});
       }},
      {"laterFragmentStartsWhereAConstantSizeRunEnds",
       [](std::uint64_t moofAt, std::uint64_t dataAt) {
         // Five 2-byte video samples of the track's default size.
         return moof({traf({tfhd(kDefaultSize, 1, {u32(2)}), trun(kDataOffset, 5, {u32(dataAt - moofAt)})}),
                      traf({tfhd(0, 2), trun(0, 1)})});
       }},
      {"secondRunWithoutOffset",
       [](std::uint64_t, std::uint64_t dataAt) {
         return moof({traf({tfhd(kBaseOffset, 2, {u64(dataAt)}), trun(kSize, 1, {u32(10)}), trun(0, 1)})});
       }},
      {"trackFragmentWithoutRunsLeavesTheImplicitBaseAlone",
       [](std::uint64_t moofAt, std::uint64_t dataAt) {
         // The first names a base but defines no data, so the second starts at the moof.
         return moof({traf({tfhd(kBaseOffset, 1, {u64(0)})}),
                      traf({tfhd(0, 2), trun(kDataOffset, 1, {u32(dataAt + 10 - moofAt)})})});
       }},
      {"runBeforeTheFileStartGivesNothingButTheNextRunCounts",
       [](std::uint64_t, std::uint64_t dataAt) {
         return moof({traf({tfhd(kBaseOffset, 2, {u64(8)}), trun(kDataOffset, 1, {u32(std::uint32_t(-16))}),
                            trun(kDataOffset, 1, {u32(dataAt + 10 - 8)})})});
       }},
      {"negativeDataOffset",
       [](std::uint64_t, std::uint64_t dataAt) {
         return moof({traf({tfhd(kBaseOffset, 2, {u64(dataAt + 110)}),
                            trun(kDataOffset, 1, {u32(std::uint32_t(-100))})})});
       }},
  };
  for (const Case& c : cases) {
    // Small movie fragments are walked in memory, larger ones in the file:
    // each rule holds in both.
    const MakeFragment large = [&](std::uint64_t moofAt, std::uint64_t dataAt) {
      const Bytes small = c.moof(moofAt, dataAt);
      return box("moof", {Bytes(small.begin() + 8, small.end()), box("free", {zeros(media::kMovieFragmentInMemory)})});
    };
    for (const MakeFragment& make : {c.moof, large}) {
      const std::vector<Delivered> got = timecodeSamples(fragmentedMovie(defaultMovie(), {{make, data}}));
      ASSERT_FALSE(got.empty()) << c.name;
      EXPECT_EQ(got.back(), kOnly300.front()) << c.name;
    }
  }
}

TEST(FragmentSizes, FromTheRunThenTheHeaderThenTheDefaults) {
  const Bytes data = cat({u32(7), u32(300)});
  struct Case {
    const char* name;
    std::uint32_t trexSize;
    MakeFragment moof;
  };
  const Case cases[] = {
      {"perSampleInRun", 99,
       [](std::uint64_t, std::uint64_t at) {
         // Every per-sample field present, so the size sits between the others.
         return moof({traf({tfhd(kBaseOffset | kDefaultSize, 2, {u64(at), u32(99)}),
                            trun(kDuration | kSize | kSampleFlags | kCompositionOffset | kFirstFlags, 2,
                                 {u32(0), u32(1), u32(4), u32(0), u32(0), u32(1), u32(4), u32(0), u32(0)})})});
       }},
      {"fragmentDefault", 99,
       [](std::uint64_t, std::uint64_t at) {
         return moof({traf({tfhd(kBaseOffset | kDefaultSize | kDefaultFlags, 2, {u64(at), u32(4), u32(0)}),
                            trun(0, 2)})});
       }},
      {"trackDefault", 4,
       [](std::uint64_t, std::uint64_t at) { return moof({traf({tfhd(kBaseOffset, 2, {u64(at)}), trun(0, 2)})}); }},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(timecodeSamples(fragmentedMovie(defaultMovie(c.trexSize), {{c.moof, data}})),
              (std::vector<Delivered>{{"tmcd", {0, 0, 0, 7}, 4}, {"tmcd", {0, 0, 1, 0x2C}, 4}}))
        << c.name;
  }
}

TEST(FragmentDescriptions, HeaderIndexSelectsTheDescription) {
  const Bytes file = fragmentedMovie(defaultMovie(), {{[](std::uint64_t, std::uint64_t at) {
                                                         return moof({traf({tfhd(kBaseOffset | kDescriptionIndex, 2, {u64(at), u32(2)}),
                                                                            trun(kSize, 1, {u32(8)})})});
                                                       },
                                                       u64(300)}});
  EXPECT_EQ(timecodeSamples(file), (std::vector<Delivered>{{"tc64", {0, 0, 0, 0, 0, 0, 1, 0x2C}, 8}}));
}

TEST(FragmentOrder, SampleTableFirstThenFragmentsInFileOrder) {
  // The sample table holds one sample; video fragments come first; the
  // timecode track's samples are spread over two later fragments.
  const Bytes movie = movieAfterMedia(u32(1), [](std::uint64_t start) {
    return box("moov", {emptyTrack(1, "vide", {sampleEntry("avc1")}), trak(2, "tmcd", timecodeTable(start)),
                        box("mvex", {trex(1, 1, 4), trex(2, 1, 4)})});
  });
  Bytes file = movie;
  const auto addFragment = [&file](std::uint32_t track, const Bytes& data) {
    const std::uint64_t at = file.size();
    const auto make = [&](std::uint64_t dataAt) {
      return moof({traf({tfhd(kBaseOffset, track, {u64(dataAt)}), trun(0, std::uint32_t(data.size() / 4))})});
    };
    append(file, cat({make(at + make(0).size() + 8), box("mdat", {data})}));
  };
  addFragment(1, u32(111));
  addFragment(2, u32(2));
  addFragment(1, u32(222));
  addFragment(2, cat({u32(3), u32(4)}));
  const std::vector<Delivered> expected = {{"tmcd", {0, 0, 0, 1}, 4}, {"tmcd", {0, 0, 0, 2}, 4},
                                           {"tmcd", {0, 0, 0, 3}, 4}, {"tmcd", {0, 0, 0, 4}, 4}};
  EXPECT_EQ(timecodeSamples(file), expected);
}

TEST(FragmentScan, TimecodeSampleInTheSecondFragment) {
  const MakeFragment videoOnly = [](std::uint64_t, std::uint64_t at) {
    return moof({traf({tfhd(kBaseOffset, 1, {u64(at)}), trun(0, 1)})});
  };
  const MakeFragment videoThenTimecode = [](std::uint64_t, std::uint64_t at) {
    return moof({traf({tfhd(kBaseOffset, 1, {u64(at)}), trun(kSize, 1, {u32(4)})}),
                 traf({tfhd(kBaseOffset, 2, {u64(at + 4)}), trun(0, 1)})});
  };
  const Bytes file =
      fragmentedMovie(defaultMovie(), {{videoOnly, u32(5)}, {videoThenTimecode, cat({u32(6), u32(300)})}});
  EXPECT_EQ(readStartFrame(file.data(), file.size()), 300u);
}

TEST(FragmentBounds, UntrustedCountsAndOffsets) {
  struct Case {
    const char* name;
    MakeFragment moof;
    std::size_t delivered;
  };
  const Case cases[] = {
      {"runClaimsMoreRecordsThanItHolds",
       [](std::uint64_t, std::uint64_t at) {
         return moof({traf({tfhd(kBaseOffset, 2, {u64(at)}), trun(kSize, 1000000000, {u32(4)})})});
       },
       1},
      {"billionsOfDefaultSizedSamplesRunOffTheEnd",
       [](std::uint64_t, std::uint64_t at) {
         return moof({traf({tfhd(kBaseOffset, 2, {u64(at)}), trun(0, 0xFFFFFFFF)})});
       },
       1},
      {"baseOffsetPlusDataOffsetOverflows",
       [](std::uint64_t, std::uint64_t) {
         return moof({traf({tfhd(kBaseOffset, 2, {u64(~0ull - 2)}), trun(kDataOffset, 1, {u32(16)})})});
       },
       0},
      {"dataOffsetBeforeTheStartOfTheFile",
       [](std::uint64_t, std::uint64_t) {
         return moof({traf({tfhd(kBaseOffset, 2, {u64(8)}), trun(kDataOffset, 1, {u32(std::uint32_t(-16))})})});
       },
       0},
      {"dataEndOfARunOverflows",
       [](std::uint64_t, std::uint64_t) {
         // Were the end to wrap, the second run would start inside the file.
         return moof({traf({tfhd(kBaseOffset, 2, {u64(~0ull - 10)}), trun(kSize, 1, {u32(100)}), trun(0, 1)})});
       },
       0},
      {"baseOffsetPastTheEnd",
       [](std::uint64_t, std::uint64_t) { return moof({traf({tfhd(kBaseOffset, 2, {u64(1ull << 40)}), trun(0, 1)})}); },
       0},
      {"runAfterARunCutShortBeforeItsDataOffset",
       [](std::uint64_t, std::uint64_t at) {
         // Where the first run would end is unknown, and so is where the second starts.
         return moof({traf({tfhd(kBaseOffset, 2, {u64(at)}), fullBox("trun", 0, kDataOffset, {u32(1)}), trun(0, 1)})});
       },
       0},
      {"headerTooShortForItsFields",
       [](std::uint64_t, std::uint64_t) { return moof({traf({tfhd(kBaseOffset | kDefaultSize, 2, {u32(0)}), trun(0, 1)})}); },
       0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(timecodeSamples(fragmentedMovie(defaultMovie(), {{c.moof, u32(300)}})).size(), c.delivered)
        << c.name;
  }
}

// Bytes in memory that remember where each read started and how much it asked.
class RecordingSource : public media::ByteSource {
 public:
  RecordingSource(const Bytes& bytes, std::vector<std::pair<std::uint64_t, std::size_t>>* reads)
      : bytes_(bytes), reads_(reads) {}
  std::uint64_t size() const override { return bytes_.size(); }
  std::size_t readAt(std::uint64_t offset, std::span<std::uint8_t> out) const override {
    reads_->emplace_back(offset, out.size());
    const std::size_t count = std::min<std::uint64_t>(out.size(), bytes_.size() - offset);
    std::copy_n(bytes_.begin() + std::ptrdiff_t(offset), count, out.begin());
    return count;
  }

 private:
  const Bytes& bytes_;
  std::vector<std::pair<std::uint64_t, std::size_t>>* reads_;
};

TEST(FragmentScan, EachByteIsReadOnceInFileOrderWhateverTheTracks) {
  // 64 timecode tracks with a track fragment in each of 64 movie fragments,
  // more than the reader's cache holds; only the last holds a timecode sample.
  const BoundsCase shape = scatteredTimecodeTrackFragments("scattered", 64, 64);
  const Bytes& file = shape.file.pieces.front().bytes;
  std::vector<std::pair<std::uint64_t, std::size_t>> reads;
  EXPECT_EQ(scanTimecodeTracks(Asset(std::make_unique<RecordingSource>(file, &reads))), kStoredFrame);
  std::uint64_t asked = 0, reached = 0;
  for (const auto& [offset, size] : reads) {
    EXPECT_GE(offset, reached) << "a read went back";
    reached = offset + size;
    asked += size;
  }
  EXPECT_LE(asked, file.size() + 16 * 1024);
}

TEST(FragmentTracks, VersionOneTrackHeaderKeepsTheIdAfterWideTimes) {
  Bytes timecode = emptyTrack(2, "tmcd");
  const Bytes header = tkhd(2);
  const Bytes wideHeader = fullBox("tkhd", 1, 3, {u64(0), u64(0), u32(2), zeros(80)});
  timecode.erase(timecode.begin() + 8, timecode.begin() + 8 + header.size());
  timecode.insert(timecode.begin() + 8, wideHeader.begin(), wideHeader.end());
  timecode[0] = std::uint8_t(0), timecode[1] = std::uint8_t(0);
  timecode[2] = std::uint8_t(timecode.size() >> 8), timecode[3] = std::uint8_t(timecode.size());
  const Bytes movie = box("moov", {emptyTrack(1, "vide", {sampleEntry("avc1")}), timecode,
                                   box("mvex", {trex(1, 1, 0), trex(2, 1, 4)})});
  const Bytes file = fragmentedMovie(movie, {{[](std::uint64_t, std::uint64_t at) {
                                                 return moof({traf({tfhd(kBaseOffset, 2, {u64(at)}), trun(0, 1)})});
                                               },
                                               u32(300)}});
  EXPECT_EQ(timecodeSamples(file), kOnly300);
}

TEST(FragmentTracks, SharedIdBelongsToTheFirstTrack) {
  // Tracks 2 and 3 both say ID 2; the fragment's sample is the first's alone.
  const Bytes movie = box("moov", {emptyTrack(1, "vide", {sampleEntry("avc1")}), emptyTrack(2, "tmcd"),
                                   emptyTrack(2, "tmcd"), box("mvex", {trex(1, 1, 0), trex(2, 1, 4)})});
  const Bytes file = fragmentedMovie(movie, {{[](std::uint64_t, std::uint64_t at) {
                                                 return moof({traf({tfhd(kBaseOffset, 2, {u64(at)}), trun(0, 1)})});
                                               },
                                               u32(300)}});
  const Asset asset = Asset::openBytes(file);
  EXPECT_EQ(samplesOfTrack(asset, 1), kOnly300);
  EXPECT_TRUE(samplesOfTrack(asset, 2).empty());
}

}  // namespace
}  // namespace ostrel::testing
