// What the companion says of a movie: its answer is the tool's, its reasons
// are the reader's, and its timecode strings are those ffmpeg was given.

#include <ostrel/ostrel.h>

#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "Explain/Explain.h"
#include "Explain/Record.h"
#include "Support/BoxWriter.h"

namespace ostrel::testing {
namespace {

using explain::Explanation;
using explain::TimecodeDescription;
using explain::TimecodeReading;

std::filesystem::path fixture(const char* name) { return std::filesystem::path(OSTREL_FIXTURES) / name; }

Explanation explainFile(const std::filesystem::path& path) { return explain::explainFile(path); }
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
    EXPECT_EQ(e.answer->sample.reading.timecode, timecode) << name;
    EXPECT_TRUE(e.answer->sample.warnings.empty()) << name;
  }
}

TEST(Explain, TimecodeStringsAcrossDropFrameBoundaries) {
  using explain::timecodeString;
  // 29.97 drop-frame skips frame numbers 00 and 01 of every minute but each
  // tenth: a minute holds 1798 frames, ten minutes 17982. Worked out by hand.
  const std::pair<StartFrame, const char*> thirty[] = {
      {1799, "00:00:59;29"},  {1800, "00:01:00;02"},  {3597, "00:01:59;29"},  {3598, "00:02:00;02"},
      {17981, "00:09:59;29"}, {17982, "00:10:00;00"}, {17983, "00:10:00;01"}, {19781, "00:10:59;29"},
      {19782, "00:11:00;02"}, {107892, "01:00:00;00"},
  };
  for (const auto& [frame, text] : thirty) EXPECT_EQ(timecodeString(frame, 30, true, false), text) << frame;
  // 59.94 skips four a minute: ten minutes hold 35964 frames.
  EXPECT_EQ(timecodeString(3600, 60, true, false), "00:01:00;04");
  EXPECT_EQ(timecodeString(35963, 60, true, false), "00:09:59;59");
  EXPECT_EQ(timecodeString(35964, 60, true, false), "00:10:00;00");
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

TEST(Explain, TheFrameDurationWinsOverACounterThatContradictsIt) {
  struct Case {
    const char* name;
    StartFrame frame;
    std::uint32_t timeScale, frameDuration;
    std::uint8_t counter;
    std::uint32_t flags;
    const char* timecode;
    std::optional<std::string> asStored;
  };
  const Case cases[] = {
      // As GoPro cameras write it: 3003/90000 is 29.97 fps, yet the counter
      // says 29. Only the drop-frame reading matches the camera's clock.
      {"HERO7", 1211032, 90000, 3003, 29, 0, "11:13:28;04", "11:35:59:21"},
      {"Karma", 2100244, 90000, 3003, 29, 0, "19:27:58;06", "20:07:02:06"},
      {"MAX", 1700260, 90000, 3003, 29, 0, "15:45:32;02", "16:17:09:19"},
      // 23.976 with a counter of 23 counts in 24s, not drop-frame.
      {"filmCounting23", 86399, 24000, 1001, 23, 0, "00:59:59:23", "01:02:36:11"},
      // A description that agrees with itself is read as it says.
      {"agrees", 107894, 30000, 1001, 30, TimecodeDescription::kDropFrame, "01:00:00;02", std::nullopt},
      {"agreesWithoutDropFrame", 107894, 30000, 1001, 30, 0, "00:59:56:14", std::nullopt},
  };
  for (const Case& c : cases) {
    const Explanation e = explainBytes(timecodeMovie(u32(c.frame), c.timeScale, c.frameDuration, c.counter, c.flags));
    ASSERT_TRUE(e.answer.has_value()) << c.name;
    const TimecodeReading& reading = e.answer->sample.reading;
    EXPECT_EQ(reading.timecode, c.timecode) << c.name;
    EXPECT_EQ(reading.asStored, c.asStored) << c.name;
    EXPECT_EQ(reading.contradicts, c.asStored.has_value()) << c.name;
    const nlohmann::ordered_json record = explain::jsonRecord(e);
    EXPECT_EQ(record["timecode"], c.timecode) << c.name;
    EXPECT_EQ(record["timecodeAsStored"], c.asStored ? nlohmann::ordered_json(*c.asStored) : nullptr) << c.name;
    if (c.asStored) {
      ASSERT_EQ(e.answer->sample.warnings.size(), 1u) << c.name;
      EXPECT_NE(e.answer->sample.warnings[0].find("contradicts itself"), std::string::npos) << c.name;
    } else {
      EXPECT_TRUE(e.answer->sample.warnings.empty()) << c.name;
    }
  }
}

// A video track whose one sample starts an MPEG-2 stream: a sequence header,
// then a group of pictures header holding the time code given.
Bytes mpegVideoTrack(std::uint32_t id, std::uint64_t sampleAt, std::uint32_t sampleSize) {
  return trak(id, "vide", box("stbl", {stsd({sampleEntry("m2v1")}), stsc({{1, 1, 1}}), stszTable({sampleSize}),
                                       stco({sampleAt})}));
}
Bytes groupOfPictures(unsigned hours, unsigned minutes, unsigned seconds, unsigned pictures) {
  const std::uint32_t code = hours << 19 | minutes << 13 | 1u << 12 | seconds << 6 | pictures;
  return cat({u32(0x1B3), u32(0x02002018), u32(0xFFFFE000), u32(0x1B8), u32(code << 7 | 1u << 6), u32(0x100)});
}

// mvhd: full box header, the creation and modification times, the rest.
Bytes movieHeader(std::uint8_t version, std::uint64_t created) {
  const Bytes times = version == 1 ? cat({u64(created), u64(created)}) : cat({u32(created), u32(created)});
  return fullBox("mvhd", version, 0, {times, u32(600), version == 1 ? u64(0) : u32(0), zeros(80)});
}

TEST(Explain, WhatTheCompanionSaysBeyondTheAnswer) {
  struct Case {
    const char* name;
    Bytes file;
    std::function<void(const Explanation&, const std::string& text, const nlohmann::ordered_json& json)> check;
  };
  const Bytes whole = movieBeforeMedia(cat({zeros(100), u32(300)}), [](std::uint64_t start) {
    return box("moov", {trak(1, "tmcd", timecodeTable(start + 100))});
  });
  const Bytes movieLast = movieAfterMedia(u32(300), [](std::uint64_t start) {
    return box("moov", {trak(1, "tmcd", timecodeTable(start))});
  });
  const Case cases[] = {
      {"cutShortMovie", Bytes(movieLast.begin(), movieLast.end() - 40),
       [&](const Explanation& e, const std::string& text, const nlohmann::ordered_json& json) {
         ASSERT_TRUE(e.cutShort.has_value());
         EXPECT_EQ(e.cutShort->box, "moov");
         EXPECT_EQ(e.cutShort->offset + e.cutShort->claims, movieLast.size());
         EXPECT_EQ(e.cutShort->fileEnds, movieLast.size() - 40);
         EXPECT_EQ(json["cutShort"]["claims"], e.cutShort->claims);
         EXPECT_EQ(json["reason"].get<std::string>().rfind("the file is cut short: the 'moov' box", 0), 0u);
         EXPECT_NE(text.find("\nno answer: the file is cut short"), std::string::npos) << text;
       }},
      {"cutShortMediaData", Bytes(whole.begin(), whole.end() - 50),
       [&](const Explanation& e, const std::string& text, const nlohmann::ordered_json& json) {
         ASSERT_TRUE(e.cutShort.has_value());
         EXPECT_EQ(e.cutShort->box, "mdat");
         EXPECT_NE(text.find("cut short: the 'mdat' box at byte"), std::string::npos) << text;
         EXPECT_EQ(json["answer"], 0);
         EXPECT_EQ(json["reason"].get<std::string>().rfind("the file is cut short", 0), 0u);
       }},
      {"everyTimecodeTrack", movieAfterMedia(cat({u32(24), u32(48)}), [](std::uint64_t start) {
         return box("moov", {trak(4, "vide", timecodeTable(start)), trak(5, "tmcd", timecodeTable(start)),
                             trak(9, "tmcd", timecodeTable(start + 4))});
       }),
       [](const Explanation& e, const std::string& text, const nlohmann::ordered_json& json) {
         ASSERT_EQ(e.tracks.size(), 3u);
         ASSERT_TRUE(e.tracks[1].first && e.tracks[2].first);
         EXPECT_EQ(e.tracks[1].first->frame, 24u);
         EXPECT_EQ(e.tracks[2].first->frame, 48u);
         EXPECT_EQ(e.answer->track, 2u);
         EXPECT_EQ(e.answer->trackId, 5u);
         EXPECT_NE(text.find("frame: 24 (track 2, ID 5)"), std::string::npos) << text;
         EXPECT_NE(text.find("first sample that decodes at byte"), std::string::npos) << text;
         EXPECT_EQ(json["track"], 2);
         EXPECT_EQ(json["trackId"], 5);
         EXPECT_EQ(json["tracks"][1]["answers"], true);
         EXPECT_EQ(json["tracks"][2]["answers"], false);
         EXPECT_EQ(json["tracks"][2]["firstDecodable"]["frame"], 48);
       }},
      {"groupOfPicturesHint", movieAfterMedia(groupOfPictures(1, 2, 3, 4), [](std::uint64_t start) {
         return box("moov", {mpegVideoTrack(1, start, 24), emptyTrack(2, "tmcd")});
       }),
       [](const Explanation& e, const std::string& text, const nlohmann::ordered_json& json) {
         ASSERT_EQ(e.hints.size(), 1u);
         EXPECT_EQ(e.hints[0].timecode, "01:02:03:04");
         EXPECT_EQ(e.toolAnswer(), "0");
         EXPECT_NE(text.find("a timecode may be in: "), std::string::npos) << text;
         EXPECT_EQ(json["hints"][0]["timecode"], "01:02:03:04");
         EXPECT_EQ(json["hints"][0]["track"], 1);
       }},
      {"pastTheEndCountsTheRestOfTheRun", movieBeforeMedia(zeros(4), [](std::uint64_t start) {
         // Three samples in one chunk: the first too short, the last two past the end.
         return box("moov", {trak(1, "tmcd", box("stbl", {stsd({sampleEntry("tmcd")}), stsc({{1, 3, 1}}),
                                                          stszTable({2, 4, 4}), stco({start})}))});
       }),
       [](const Explanation& e, const std::string&, const nlohmann::ordered_json& json) {
         ASSERT_EQ(e.tracks[0].samples.size(), 2u);
         EXPECT_EQ(e.tracks[0].samples[1].count, 2u);
         EXPECT_EQ(json["tracks"][0]["passedOver"][1]["count"], 2);
       }},
      {"wrapsAt24HoursAsItsFlagsSay",
       timecodeMovie(u32(24 * 3600 * 25 + 1), 25, 1, 25, TimecodeDescription::kWrapsAt24Hours),
       [](const Explanation& e, const std::string&, const nlohmann::ordered_json& json) {
         EXPECT_EQ(e.answer->sample.reading.timecode, "00:00:00:01");
         EXPECT_EQ(json["rate"]["wrapsAt24Hours"], true);
       }},
      {"unlistedSamplesCountWholeRuns", movieAfterMedia(zeros(113), [](std::uint64_t start) {
         // 13 one-byte timecode samples, then a run of 100 of another format.
         std::vector<std::uint32_t> sizes(113, 1);
         return box("moov", {trak(1, "tmcd", box("stbl", {stsd({sampleEntry("tmcd"), sampleEntry("avc1")}),
                                                          stsc({{1, 13, 1}, {2, 100, 2}}), stszTable(sizes),
                                                          stco({start, start + 13})}))});
       }),
       [](const Explanation& e, const std::string& text, const nlohmann::ordered_json& json) {
         EXPECT_EQ(e.tracks[0].samples.size(), Explanation::kListedSamples);
         EXPECT_EQ(e.tracks[0].unlistedSamples, 101u);
         EXPECT_EQ(json["tracks"][0]["unlistedSamples"], 101);
         EXPECT_NE(text.find("and 101 more samples passed over"), std::string::npos) << text;
       }},
      {"creationTimeAsStored", movieAfterMedia(u32(300), [](std::uint64_t start) {
         return box("moov", {movieHeader(0, 3634629208), trak(1, "tmcd", timecodeTable(start))});
       }),
       [](const Explanation& e, const std::string& text, const nlohmann::ordered_json& json) {
         EXPECT_EQ(e.created, "2019-03-05T11:13:28");
         EXPECT_EQ(json["created"], "2019-03-05T11:13:28");
         EXPECT_NE(text.find("created: 2019-03-05 11:13:28 "), std::string::npos) << text;
       }},
      {"creationTimeInSixtyFourBits", movieAfterMedia(u32(300), [](std::uint64_t start) {
         return box("moov", {movieHeader(1, 4295053696), trak(1, "tmcd", timecodeTable(start))});
       }),
       [](const Explanation& e, const std::string&, const nlohmann::ordered_json&) {
         EXPECT_EQ(e.created, "2040-02-07T06:28:16");
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Explanation e = explainBytes(c.file);
    std::ostringstream text;
    explain::printText(e, text);
    c.check(e, text.str(), explain::jsonRecord(e));
  }
}

TEST(Explain, FragmentedMoviesSaySo) {
  const Explanation e = explainFile(fixture("frag-empty-moov.mp4"));
  EXPECT_TRUE(e.container.fragmented);
  std::ostringstream text;
  explain::printText(e, text);
  EXPECT_NE(text.str().find("; fragmented; "), std::string::npos) << text.str();
  EXPECT_EQ(explain::jsonRecord(e)["container"]["fragmented"], true);
}

TEST(Explain, ARealMpegGroupOfPicturesHeaderIsAHint) {
  const Explanation e = explainFile(fixture("mpeg2-gop.mov"));
  ASSERT_EQ(e.hints.size(), 1u);
  EXPECT_EQ(e.hints[0].timecode, "01:02:03:04");  // as the encoder was given, and MediaInfo reads it
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

}  // namespace
}  // namespace ostrel::testing
