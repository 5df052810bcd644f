// Runs the built tool as a process and checks everything it shows the caller.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "Support/BoxWriter.h"
#include "Support/RunTool.h"
#include "Support/TempFile.h"

namespace ostrel::testing {
namespace {

void expectAnswer(const ToolRun& run, const std::string& line) {
  EXPECT_EQ(run.out, line);
  EXPECT_EQ(run.err, "");
  ASSERT_TRUE(WIFEXITED(run.status));
  EXPECT_EQ(WEXITSTATUS(run.status), 0);
}

Bytes movieStoring(std::uint32_t frame) {
  return movieAfterMedia(u32(frame), [](std::uint64_t start) {
    return box("moov", {trak(1, "tmcd", timecodeTable(start))});
  });
}

TEST(CommandLine, PrintsTheStoredFrameNumber) {
  const TempFile movie(movieStoring(300));
  expectAnswer(runTool({movie.path().string()}), "300\n");
  const TempFile largest(movieStoring(0xFFFFFFFF));
  expectAnswer(runTool({largest.path().string()}), "4294967295\n");
}

TEST(CommandLine, WrongArgumentCountsGiveZeroWithoutReading) {
  const TempFile movie(movieStoring(300));
  expectAnswer(runTool({}), "0\n");
  // Not even the first of two paths is read.
  expectAnswer(runTool({movie.path().string(), movie.path().string()}), "0\n");
}

TEST(CommandLine, AnyArgumentIsAPath) {
  TempDirectory dir;
  expectAnswer(runTool({""}), "0\n");
  expectAnswer(runTool({"--help"}), "0\n");
  expectAnswer(runTool({(dir.path() / "missing.mov").string()}), "0\n");
  expectAnswer(runTool({"~"}), "0\n");
  // An option-like name that is a movie is read as one.
  const TempFile movie(movieStoring(42));
  const std::filesystem::path dashed = movie.path().parent_path() / "-v";
  std::filesystem::copy_file(movie.path(), dashed);
  expectAnswer(runTool({dashed.string()}), "42\n");
}

TEST(CommandLine, SpecialFilesGiveZeroAtOnce) {
  TempDirectory dir;
  const std::filesystem::path fifo = dir.path() / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {dir.path().string(), fifo.string(), std::string("/dev/zero"),
                                 std::string("/dev/null"), std::string("/")}) {
    expectAnswer(runTool({path}), "0\n");
  }
}

TEST(CommandLine, ClosedOutputDoesNotChangeTheExitStatus) {
  const TempFile movie(movieStoring(300));
  const ToolRun run = runTool({movie.path().string()}, /*closeOutputEarly=*/true);
  EXPECT_EQ(run.err, "");
  ASSERT_TRUE(WIFEXITED(run.status));
  EXPECT_EQ(WEXITSTATUS(run.status), 0);
}

}  // namespace
}  // namespace ostrel::testing
