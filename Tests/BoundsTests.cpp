// Hostile files: the tool answers quickly and in little memory whatever the
// file claims. Runs the built tool; kept apart (label "bounds") since it
// measures wall-clock time, with limits far above what the tool needs.

#include <gtest/gtest.h>

#include <fstream>

#include "Support/BoxWriter.h"
#include "Support/RunTool.h"
#include "Support/TempFile.h"

namespace ostrel::testing {
namespace {

#ifdef OSTREL_SANITIZED
constexpr double kSecondsLimit = 15.0;  // sanitizers check memory safety here, not speed
#else
constexpr double kSecondsLimit = 3.0;
#endif

Bytes timecodeTrack(std::uint32_t id, std::string_view format, const Bytes& chunkRuns,
                    const Bytes& sizes, const Bytes& offsets) {
  return trak(id, "tmcd", box("stbl", {stsd({sampleEntry(format)}), chunkRuns, sizes, offsets}));
}

Bytes stcoRepeating(std::uint32_t offset, std::size_t count) {
  Bytes body = u32(count);
  for (std::size_t i = 0; i < count; ++i) append(body, u32(offset));
  return fullBox("stco", 0, 0, {body});
}

long peakResidentKiB(const std::string& report) {
  std::ifstream in(report);
  long kib = -1;
  in >> kib;
  return kib;
}

struct HostileCase {
  const char* name;
  Bytes file;
  const char* answer;
};

std::vector<HostileCase> hostileCases() {
  std::vector<HostileCase> cases;
  cases.push_back({"billionsOfEmptySamples",
                   cat({ftyp(), box("moov", {timecodeTrack(1, "tmcd", stsc({{1, 0xFFFFFFFF, 1}}),
                                                           stszConstant(0, 0xFFFFFFFF), stco({0}))})}),
                   "0\n"});
  cases.push_back({"billionsOfSamplesInAChunkPastTheEnd",
                   cat({ftyp(), box("moov", {timecodeTrack(1, "tmcd", stsc({{1, 0xFFFFFFFF, 1}}),
                                                           stszConstant(4, 0xFFFFFFFF), stco({0x80000000}))})}),
                   "0\n"});
  cases.push_back({"oneGiganticSample",
                   cat({ftyp(), box("moov", {timecodeTrack(1, "tmcd", stsc({{1, 1, 1}}),
                                                           stszTable({0xFFFFFFFF}), stco({0}))})}),
                   "0\n"});
  // Chunks that all start at the same byte, each claiming more one-byte
  // samples than the file holds, none of which decode.
  cases.push_back({"overlappingChunksOfTinySamples",
                   cat({ftyp(), box("moov", {timecodeTrack(1, "avc1", stsc({{1, 1000000, 1}}),
                                                           stszConstant(1, 0xFFFFFFFF), stcoRepeating(0, 200000))})}),
                   "0\n"});
  // Thousands of timecode tracks whose one sample is an undecodable tc64,
  // each to be looked for again in a hundred thousand empty fragments.
  {
    Bytes tracks, defaults;
    for (std::uint32_t id = 1; id <= 5000; ++id) {
      append(tracks, timecodeTrack(id, "tc64", stsc({{1, 1, 1}}), stszConstant(8, 1), stco({16})));
      append(defaults, fullBox("trex", 0, 0, {u32(id), u32(1), u32(0), u32(8), u32(0)}));
    }
    Bytes file = cat({ftyp(), box("moov", {tracks, box("mvex", {defaults})})});
    for (int i = 0; i < 100000; ++i) append(file, box("moof"));
    file[16] = 0xFF;  // ftyp's last bytes become the tc64 value 0xFF... , far above 2^32
    cases.push_back({"thousandsOfTracksTimesThousandsOfFragments", file, "0\n"});
  }
  // Sizes and counts far beyond the file, around one good sample.
  cases.push_back({"giganticClaimsAroundAGoodSample",
                   movieAfterMedia(u32(300), [](std::uint64_t start) {
                     Bytes track = trak(1, "tmcd",
                                        box("stbl", {fullBox("stsd", 0, 0, {u32(0xFFFFFFFF), sampleEntry("tmcd")}),
                                                     stsc({{1, 1, 1}}), stszTable({4}), stco({start})}));
                     track[0] = track[1] = 0x7F;  // the track claims 2 GiB
                     return cat({u32(1), text("moov"), u64(~0ull), track});
                   }),
                   "300\n"});
  return cases;
}

TEST(Bounds, HostileFilesAnswerQuicklyInLittleMemory) {
  for (const HostileCase& c : hostileCases()) {
    const TempFile file(c.file);
    const std::string report = (file.path().parent_path() / "peak").string();
    const ToolRun run = runProgram(OSTREL_PEAK_MEMORY, {report, OSTREL_BINARY, file.path().string()});
    EXPECT_EQ(run.out, c.answer) << c.name;
    EXPECT_EQ(run.err, "") << c.name;
    EXPECT_LT(run.seconds, kSecondsLimit) << c.name;
#ifndef OSTREL_SANITIZED
    EXPECT_LT(peakResidentKiB(report), OSTREL_PEAK_MEMORY_LIMIT_KIB) << c.name;
#endif
    RecordProperty(c.name, std::to_string(run.seconds));
  }
}

}  // namespace
}  // namespace ostrel::testing
