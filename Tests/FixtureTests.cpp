// Files written by a real muxer (Debian's ffmpeg); Fixtures/make-fixtures.sh remakes them.

#include <ostrel/ostrel.h>

#include <gtest/gtest.h>

#include "Support/Samples.h"

namespace ostrel::testing {
namespace {

std::filesystem::path fixture(const char* name) { return std::filesystem::path(OSTREL_FIXTURES) / name; }

TEST(Fixtures, StoredFrameNumbers) {
  const std::pair<const char*, std::optional<StartFrame>> cases[] = {
      {"ntsc-drop.mov", 107894},    // 01:00:00;02 at 29.97 drop-frame
      {"pal.mp4", 900000},          // 10:00:00:00 at 25
      {"two-timecodes.mov", 24},    // the first of two timecode tracks
      {"ntsc-film.mov", 86399},     // 00:59:59:23 at 23.976
      {"ntsc-drop-60.mov", 215788}, // 01:00:00;04 at 59.94 drop-frame
      {"thirty.mov", 1358909},      // 12:34:56:29 at 30
      {"no-timecode.mp4", std::nullopt},
      {"mpeg2-gop.mov", std::nullopt},  // a timecode only in the video's GOP header
      // Fragmented: the timecode sample is in the first moof, not in moov.
      {"frag-empty-moov.mp4", 900000},  // explicit base data offsets
      {"frag-base-moof.mov", 900000},   // bases relative to the moof
      {"frag-cmaf.mp4", 900000},
  };
  for (const auto& [name, frame] : cases) EXPECT_EQ(readStartFrame(fixture(name)), frame) << name;
}

TEST(Fixtures, SecondTimecodeTrackHoldsItsOwnNumber) {
  const media::Asset asset = media::Asset::open(fixture("two-timecodes.mov"));
  EXPECT_EQ(mediaTypes(asset), (std::vector<std::string>{"vide", "vide", "tmcd", "tmcd"}));
  EXPECT_EQ(samplesOfTrack(asset, 3), (std::vector<Delivered>{{"tmcd", {0, 0, 0, 48}, 4}}));
}

}  // namespace
}  // namespace ostrel::testing
