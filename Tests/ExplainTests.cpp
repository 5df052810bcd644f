// The companion command: its answer is the tool's, its reasons are the
// reader's, and its timecode strings are those ffmpeg was given.

#include <ostrel/ostrel.h>

#include <gtest/gtest.h>

#include <sstream>

#include "Explain/Explain.h"
#include "Support/BoxWriter.h"
#include "Support/RunTool.h"
#include "Support/TempFile.h"

namespace ostrel::testing {
namespace {

using explain::Explanation;

std::filesystem::path fixture(const char* name) { return std::filesystem::path(OSTREL_FIXTURES) / name; }

Explanation explainFile(const std::filesystem::path& path) {
  return explain::explain(media::Asset::open(path), path.string());
}
Explanation explainBytes(const Bytes& file) { return explain::explain(media::Asset::openBytes(file), "movie"); }

TEST(Explain, AnswersAsTheToolOnEveryFixtureAndCorpusFile) {
  std::size_t files = 0;
  for (const char* folder : {OSTREL_FIXTURES, OSTREL_FUZZ_CORPUS, OSTREL_FUZZ_REGRESSIONS}) {
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      if (!entry.is_regular_file()) continue;
      const std::optional<StartFrame> tool = readStartFrame(entry.path());
      EXPECT_EQ(explainFile(entry.path()).toolAnswer(), std::to_string(tool.value_or(0))) << entry.path();
      ++files;
    }
  }
  EXPECT_GT(files, 300u);
}

TEST(Explain, TimecodesAreThoseTheMuxerWasGiven) {
  const std::pair<const char*, const char*> cases[] = {
      {"pal.mp4", "10:00:00:00"},           {"two-timecodes.mov", "00:00:01:00"},
      {"ntsc-film.mov", "00:59:59:23"},     {"ntsc-drop.mov", "01:00:00;02"},
      {"ntsc-drop-60.mov", "01:00:00;04"},  {"thirty.mov", "12:34:56:29"},
  };
  for (const auto& [name, timecode] : cases) {
    const Explanation e = explainFile(fixture(name));
    ASSERT_TRUE(e.answer.has_value()) << name;
    EXPECT_EQ(e.answer->timecode, timecode) << name;
    EXPECT_TRUE(e.answer->warnings.empty()) << name;
  }
}

TEST(Explain, TimecodeStringsAcrossDropFrameBoundaries) {
  using explain::timecodeString;
  // 29.97 drop-frame skips frame numbers 00 and 01 of every minute but each tenth.
  EXPECT_EQ(timecodeString(1799, 30, true, false), "00:00:59;29");
  EXPECT_EQ(timecodeString(1800, 30, true, false), "00:01:00;02");
  EXPECT_EQ(timecodeString(17982, 30, true, false), "00:10:00;00");
  EXPECT_EQ(timecodeString(3600, 60, true, false), "00:01:00;04");
  EXPECT_EQ(timecodeString(24 * 3600 * 25 + 1, 25, false, true), "00:00:00:01");
  EXPECT_EQ(timecodeString(24 * 3600 * 25 + 1, 25, false, false), "24:00:00:01");
  EXPECT_EQ(timecodeString(5, 0, false, false), std::nullopt);
  EXPECT_EQ(timecodeString(5, 25, true, false), std::nullopt);
}

// A timecode track with one description of the given fields and one sample.
Bytes timecodeMovie(const Bytes& sample, std::uint32_t timeScale, std::uint32_t frameDuration,
                    std::uint8_t counter, std::uint32_t flags = 0, std::string_view format = "tmcd") {
  const Bytes fields = cat({u32(0), u32(flags), u32(timeScale), u32(frameDuration), u8(counter), u8(0)});
  return movieAfterMedia(sample, [&](std::uint64_t start) {
    return box("moov", {trak(1, "tmcd", box("stbl", {stsd({sampleEntry(format, 1, fields)}), stsc({{1, 1, 1}}),
                                                     stszTable({std::uint32_t(sample.size())}), stco({start})}))});
  });
}

TEST(Explain, WarnsWhenTheCounterDisagreesWithTheFrameDuration) {
  // As a GoPro HERO7 writes it: 3003/90000 is 29.97 fps, yet the counter says 29.
  const Explanation e = explainBytes(timecodeMovie(u32(1211032), 90000, 3003, 29));
  ASSERT_TRUE(e.answer.has_value());
  EXPECT_EQ(e.answer->frame, 1211032u);
  EXPECT_EQ(e.answer->timecode, "11:35:59:21");
  ASSERT_EQ(e.answer->warnings.size(), 1u);
  EXPECT_NE(e.answer->warnings[0].find("counts 30"), std::string::npos) << e.answer->warnings[0];
}

TEST(Explain, EachReasonASampleIsPassedOver) {
  struct Case {
    const char* name;
    Bytes file;
    std::string why;
  };
  const Bytes elsewhere = movieAfterMedia(u32(300), [](std::uint64_t start) {
    return box("moov", {trak(1, "tmcd", timecodeTable(start),
                             box("dinf", {dref({fullBox("url ", 0, 0, {text("file:///camera/A001.mov"), u8(0)})})}))});
  });
  const Bytes pastTheEnd = movieAfterMedia(u32(300), [](std::uint64_t start) {
    return box("moov", {trak(1, "tmcd", timecodeTable(start + 100000))});
  });
  const Case cases[] = {
      {"noBytes", movieAfterMedia(u32(300), [](std::uint64_t start) {
         return box("moov", {trak(1, "tmcd", timecodeTable(start, "tmcd", 0))});
       }), "no bytes"},
      {"pastTheEnd", pastTheEnd, "past the end of the file (" + std::to_string(pastTheEnd.size()) + " bytes)"},
      {"inAnotherFile", elsewhere, "data in another file: url file:///camera/A001.mov"},
      {"notATimecodeFormat", timecodeMovie(u32(300), 25, 1, 25, 0, "avc1"), "not a timecode format"},
      {"shorterThanItsPayload", timecodeMovie(u16(1), 25, 1, 25), "shorter than its 4-byte payload"},
      {"tc64TooLarge", timecodeMovie(u64(1ull << 32), 25, 1, 25, 0, "tc64"),
       "a frame number of 2^32 or more, which 32 bits cannot hold"},
  };
  for (const Case& c : cases) {
    const Explanation e = explainBytes(c.file);
    ASSERT_EQ(e.tracks.size(), 1u) << c.name;
    ASSERT_EQ(e.tracks[0].samples.size(), 1u) << c.name;
    EXPECT_EQ(e.tracks[0].samples[0].why, c.why) << c.name;
    EXPECT_EQ(e.toolAnswer(), "0") << c.name;
  }
}

TEST(Explain, ListsABoundedNumberOfSamplesThenCountsTheRest) {
  // 100 chunks of three one-byte samples each, all too short.
  std::vector<std::uint64_t> chunks;
  const Bytes file = movieAfterMedia(Bytes(300, 0), [&](std::uint64_t start) {
    chunks.clear();
    for (int i = 0; i < 100; ++i) chunks.push_back(start + 3 * i);
    return box("moov", {trak(1, "tmcd", box("stbl", {stsd({sampleEntry("tmcd")}), stsc({{1, 3, 1}}),
                                                     stszTable(std::vector<std::uint32_t>(300, 1)), stco(chunks)}))});
  });
  const Explanation e = explainBytes(file);
  ASSERT_EQ(e.tracks.size(), 1u);
  EXPECT_EQ(e.tracks[0].samples.size(), Explanation::kListedSamples);
  EXPECT_EQ(e.tracks[0].unlistedSamples, 300 - Explanation::kListedSamples);
}

void expectExit(const ToolRun& run, int status) {
  ASSERT_TRUE(WIFEXITED(run.status));
  EXPECT_EQ(WEXITSTATUS(run.status), status);
}

TEST(ExplainCommand, ConventionsOfAToolForPeople) {
  const ToolRun help = runProgram(OSTREL_EXPLAIN_BINARY, {"--help"});
  expectExit(help, 0);
  EXPECT_NE(help.out.find("usage: ostrel-explain"), std::string::npos);
  const ToolRun version = runProgram(OSTREL_EXPLAIN_BINARY, {"--version"});
  expectExit(version, 0);
  EXPECT_EQ(version.out.rfind("ostrel-explain ", 0), 0u);

  expectExit(runProgram(OSTREL_EXPLAIN_BINARY, {}), 2);
  expectExit(runProgram(OSTREL_EXPLAIN_BINARY, {"--frobnicate", fixture("pal.mp4")}), 2);
  TempDirectory dir;
  const std::filesystem::path fifo = dir.path() / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::filesystem::path& path : {dir.path() / "missing.mov", fifo, dir.path()}) {
    const ToolRun run = runProgram(OSTREL_EXPLAIN_BINARY, {path.string()});
    expectExit(run, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("ostrel-explain: " + path.string() + ": ", 0), 0u) << run.err;
  }
}

TEST(ExplainCommand, TextAndJsonEndWithTheToolsAnswer) {
  const std::string movie = fixture("ntsc-drop.mov").string();
  const ToolRun text = runProgram(OSTREL_EXPLAIN_BINARY, {movie});
  expectExit(text, 0);
  EXPECT_NE(text.out.find("\ntimecode: 01:00:00;02 "), std::string::npos) << text.out;
  EXPECT_TRUE(text.out.ends_with("\nanswer: 107894\n")) << text.out;
  const ToolRun json = runProgram(OSTREL_EXPLAIN_BINARY, {"--json", movie});
  expectExit(json, 0);
  EXPECT_NE(json.out.find("\"timecode\": \"01:00:00;02\""), std::string::npos) << json.out;
  EXPECT_NE(json.out.find("\"framesPerSecond\": 29.97"), std::string::npos) << json.out;
  EXPECT_TRUE(json.out.ends_with("\"answer\": 107894\n}\n")) << json.out;
}

}  // namespace
}  // namespace ostrel::testing
