// Movie boxes stored compressed (moov/cmov), as older QuickTime writers did.

#include <ostrel/ostrel.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "Support/BoxWriter.h"
#include "Support/Compress.h"
#include "Support/Samples.h"

namespace ostrel::testing {
namespace {

std::optional<StartFrame> scan(const Bytes& file) { return readStartFrame(file.data(), file.size()); }

Bytes fixture(const char* name) {
  std::ifstream in(std::filesystem::path(OSTREL_FIXTURES) / name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

Bytes movieBefore300() {
  return movieBeforeMedia(u32(300), [](std::uint64_t start) {
    return box("moov", {trak(1, "tmcd", timecodeTable(start))});
  });
}

TEST(CompressedMovie, AnswersAsTheUncompressedMovie) {
  const std::pair<const char*, Bytes> cases[] = {
      {"movieAfterItsMedia", fixture("ntsc-drop.mov")},
      {"twoTimecodeTracks", fixture("two-timecodes.mov")},
      {"mp4", fixture("pal.mp4")},
      {"fragmentsAfterTheMovie", fixture("frag-empty-moov.mp4")},
      {"movieBeforeItsMedia", movieBefore300()},
  };
  for (const auto& [name, file] : cases) {
    const std::optional<Bytes> compressed = withCompressedMovie(file);
    ASSERT_TRUE(compressed.has_value()) << name;
    ASSERT_NE(scan(file), std::nullopt) << name;
    EXPECT_EQ(scan(*compressed), scan(file)) << name;
    EXPECT_TRUE(media::Asset::openBytes(*compressed).movieIsCompressed()) << name;
  }
  // Tracks and their samples are those of the inflated movie.
  const Bytes twoTracks = *withCompressedMovie(fixture("two-timecodes.mov"));
  const media::Asset asset = media::Asset::openBytes(twoTracks);
  EXPECT_EQ(mediaTypes(asset), (std::vector<std::string>{"vide", "vide", "tmcd", "tmcd"}));
  EXPECT_EQ(samplesOfTrack(asset, 3), (std::vector<Delivered>{{"tmcd", {0, 0, 0, 48}, 4}}));
}

TEST(CompressedMovie, TheStreamDecidesTheSize) {
  const Bytes movie = box("moov", {trak(1, "tmcd", timecodeTable(0))});
  for (const std::uint32_t stated : {0u, 1u, std::uint32_t(movie.size() - 1), std::uint32_t(movie.size() + 1),
                                     0xFFFFFFFFu}) {
    const Bytes file = movieAfterMedia(u32(300), [&](std::uint64_t start) {
      return compressedMovieBox(deflateBytes(box("moov", {trak(1, "tmcd", timecodeTable(start))})), stated);
    });
    EXPECT_EQ(scan(file), 300u) << stated;
  }
}

TEST(CompressedMovie, WhatCannotBeInflatedIsNoMovie) {
  const Bytes movie = movieBefore300();
  const Bytes stream = deflateBytes(box("moov", {trak(1, "tmcd", timecodeTable(0))}));
  Bytes corrupt = stream;
  for (std::size_t i = 2; i < corrupt.size(); i += 3) corrupt[i] ^= 0x5A;
  const std::pair<const char*, Bytes> cases[] = {
      {"anotherCompressor", compressedMovieBox(stream, 1000, "lzo ")},
      {"streamCutShort", compressedMovieBox(Bytes(stream.begin(), stream.begin() + stream.size() / 2), 1000)},
      {"corruptStream", compressedMovieBox(corrupt, 1000)},
      {"noStreamAtAll", box("moov", {box("cmov", {box("dcom", {text("zlib")})})})},
      {"inflatesToSomethingElse", compressedMovieBox(deflateBytes(box("free", {zeros(100)})), 108)},
      {"inflatesPastTheLimit", compressedMovieBox(deflateZeros(33), 0xFFFFFFFF)},
      {"claims4GiBOfZeros", compressedMovieBox(deflateZeros(2), 0xFFFFFFFF)},
  };
  for (const auto& [name, box] : cases) {
    const Bytes file = cat({ftyp(), box, Bytes(movie.begin() + ftyp().size(), movie.end())});
    EXPECT_EQ(scan(file), std::nullopt) << name;
    EXPECT_TRUE(mediaTypes(media::Asset::openBytes(file)).empty()) << name;
  }
}

}  // namespace
}  // namespace ostrel::testing
