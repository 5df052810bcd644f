// Hostile files answer 0, and well-formed files with many tracks or
// fragments answer their stored number, in little CPU time and memory. Runs
// the built tool and its companion; kept apart (label "bounds") since it measures time, with
// limits far above what the tool needs (a run costs a millisecond or two)
// yet low enough to catch work that grows a hundredfold.

#include <gtest/gtest.h>

#include <fstream>

#include "Support/BoundsCases.h"
#include "Support/RunTool.h"
#include "Support/TempFile.h"

namespace ostrel::testing {
namespace {

#ifdef OSTREL_SANITIZED
// Sanitizers check memory safety here, not speed, and slow the reading
// several times over.
constexpr double kCpuSecondsLimit = 2.0;
constexpr double kSlowdown = 8;
#else
constexpr double kCpuSecondsLimit = 0.1;
constexpr double kSlowdown = 1;
#endif

struct Measured {
  long peakKiB = -1;
  double cpuSeconds = -1;
};

Measured readReport(const std::string& report) {
  std::ifstream in(report);
  Measured measured;
  in >> measured.peakKiB >> measured.cpuSeconds;
  return measured;
}

TEST(Bounds, EveryCaseAnswersRightInLittleTimeAndMemory) {
  for (const BoundsCase& c : boundsCases()) {
    TempDirectory dir;
    const std::filesystem::path movie = dir.path() / "movie.mov";
    ASSERT_TRUE(c.file.write(movie)) << c.name;
    const std::string report = (dir.path() / "report").string();
    // The tool, and the companion that explains the same scan.
    for (const char* program : {OSTREL_BINARY, OSTREL_EXPLAIN_BINARY}) {
      const ToolRun run = runProgram(OSTREL_MEASURE, {report, program, movie.string()});
      const Measured measured = readReport(report);
      const std::string name = c.name + " (" + std::filesystem::path(program).filename().string() + ")";
      if (program == std::string_view(OSTREL_BINARY)) {
        EXPECT_EQ(run.out, c.answer) << name;
      } else {
        EXPECT_TRUE(run.out.ends_with("\nanswer: " + c.answer)) << name;
      }
      EXPECT_EQ(run.err, "") << name;
      EXPECT_LT(measured.cpuSeconds, kCpuSecondsLimit + kSlowdown * c.extraCpuSeconds) << name;
#ifndef OSTREL_SANITIZED
      EXPECT_LT(measured.peakKiB, OSTREL_PEAK_MEMORY_LIMIT_KIB + c.extraMemoryKiB) << name;
#endif
      RecordProperty(name, std::to_string(measured.cpuSeconds));
    }
  }
}

}  // namespace
}  // namespace ostrel::testing
