#include <ostrel/ostrel.h>

#include <gtest/gtest.h>

#include <functional>

#include "Support/BoxWriter.h"
#include "Support/Samples.h"

namespace ostrel::testing {
namespace {

using media::Asset;

// tfhd and trun flags.
constexpr std::uint32_t kBaseOffset = 0x1, kDescriptionIndex = 0x2, kDefaultSize = 0x10,
                        kDefaultFlags = 0x20, kBaseIsMoof = 0x20000;
constexpr std::uint32_t kDataOffset = 0x1, kFirstFlags = 0x4, kDuration = 0x100, kSize = 0x200,
                        kSampleFlags = 0x400, kCompositionOffset = 0x800;

Bytes tfhd(std::uint32_t flags, std::uint32_t trackId, std::initializer_list<Bytes> fields = {}) {
  return fullBox("tfhd", 0, flags, {u32(trackId), cat(fields)});
}
Bytes trun(std::uint32_t flags, std::uint32_t count, std::initializer_list<Bytes> fields = {}) {
  return fullBox("trun", 0, flags, {u32(count), cat(fields)});
}
Bytes traf(std::initializer_list<Bytes> children) { return box("traf", children); }
Bytes moof(std::initializer_list<Bytes> trafs) {
  return box("moof", {fullBox("mfhd", 0, 0, {u32(1)}), cat(trafs)});
}
Bytes trex(std::uint32_t trackId, std::uint32_t description, std::uint32_t size) {
  return fullBox("trex", 0, 0, {u32(trackId), u32(description), u32(0), u32(size), u32(0)});
}

// A track with descriptions but no samples of its own, as fragmented movies have.
Bytes emptyTrack(std::uint32_t id, std::string_view type,
                 std::initializer_list<Bytes> entries = {sampleEntry("tmcd")}) {
  return trak(id, type, box("stbl", {stsd(entries), stsc({}), stszTable({}), stco({})}));
}

// The default movie: video track 1, timecode track 2 with 'tmcd' and 'tc64'
// descriptions; trex gives the timecode track description 1 and size 4.
Bytes defaultMovie(std::uint32_t timecodeDefaultSize = 4) {
  return box("moov", {emptyTrack(1, "vide", {sampleEntry("avc1")}),
                      emptyTrack(2, "tmcd", {sampleEntry("tmcd"), sampleEntry("tc64")}),
                      box("mvex", {trex(1, 1, 0), trex(2, 1, timecodeDefaultSize)})});
}

// Makes a moof, knowing where it starts and where its mdat's data starts.
using MakeFragment = std::function<Bytes(std::uint64_t moofAt, std::uint64_t dataAt)>;

struct Fragment {
  MakeFragment moof;
  Bytes data;
};

Bytes fragmentedMovie(const Bytes& movie, std::initializer_list<Fragment> fragments) {
  Bytes file = cat({ftyp(), movie});
  for (const Fragment& fragment : fragments) {
    const std::uint64_t at = file.size();
    const std::uint64_t dataAt = at + fragment.moof(at, 0).size() + 8;
    append(file, cat({fragment.moof(at, dataAt), box("mdat", {fragment.data})}));
  }
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
      {"baseIsMoof",
       [](std::uint64_t moofAt, std::uint64_t dataAt) {
         return moof({traf({tfhd(kBaseIsMoof, 2), trun(kDataOffset, 1, {u32(dataAt + 10 - moofAt)})})});
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
      {"secondRunWithoutOffset",
       [](std::uint64_t, std::uint64_t dataAt) {
         return moof({traf({tfhd(kBaseOffset, 2, {u64(dataAt)}), trun(kSize, 1, {u32(10)}), trun(0, 1)})});
       }},
      {"negativeDataOffset",
       [](std::uint64_t, std::uint64_t dataAt) {
         return moof({traf({tfhd(kBaseOffset, 2, {u64(dataAt + 110)}),
                            trun(kDataOffset, 1, {u32(std::uint32_t(-100))})})});
       }},
  };
  for (const Case& c : cases) {
    const std::vector<Delivered> got = timecodeSamples(fragmentedMovie(defaultMovie(), {{c.moof, data}}));
    ASSERT_FALSE(got.empty()) << c.name;
    EXPECT_EQ(got.back(), kOnly300.front()) << c.name;
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
      {"baseOffsetPastTheEnd",
       [](std::uint64_t, std::uint64_t) { return moof({traf({tfhd(kBaseOffset, 2, {u64(1ull << 40)}), trun(0, 1)})}); },
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

TEST(FragmentFixtures, FilesWrittenByFfmpeg) {
  const std::pair<const char*, StartFrame> cases[] = {
      {"frag-empty-moov.mp4", 900000},
      {"frag-base-moof.mov", 900000},
      {"frag-cmaf.mp4", 900000},
  };
  for (const auto& [name, frame] : cases) {
    EXPECT_EQ(readStartFrame(std::filesystem::path(OSTREL_FIXTURES) / name), frame) << name;
  }
}

}  // namespace
}  // namespace ostrel::testing
