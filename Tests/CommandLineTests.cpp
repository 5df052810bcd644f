// Runs the built tool as a process and checks everything it shows the caller.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <string>
#include <thread>
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

// Starts the tool on `path` with `output` as its standard output, after
// applying `limit` (a file size limit in bytes, or none) in the child.
pid_t startTool(const std::string& path, int output, rlim_t sizeLimit = RLIM_INFINITY) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    const rlimit limit{sizeLimit, sizeLimit};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0 || ::dup2(output, STDOUT_FILENO) < 0) ::_exit(120);
    ::execl(OSTREL_BINARY, OSTREL_BINARY, path.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  return pid;
}

int exitStatusOf(pid_t pid) {
  int status = -1;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(CommandLine, OutputFileOverItsSizeLimitDoesNotChangeTheExitStatus) {
  const TempFile movie(movieStoring(300));
  const std::filesystem::path outputPath = movie.path().parent_path() / "out";
  const int output = ::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  ASSERT_GE(output, 0);
  // Room for one byte of the four: the write fails part way instead of killing the tool.
  EXPECT_EQ(exitStatusOf(startTool(movie.path().string(), output, 1)), 0);
  ::close(output);
}

TEST(CommandLine, FullNonBlockingPipeStillGetsTheLine) {
  const TempFile movie(movieStoring(300));
  Pipe out;
  ASSERT_TRUE(out.ok());
  ASSERT_EQ(::fcntl(out.write(), F_SETFL, O_NONBLOCK), 0);
  std::size_t filled = 0;
  const std::string block(4096, 'x');
  for (ssize_t n; (n = ::write(out.write(), block.data(), block.size())) > 0;) filled += std::size_t(n);
  for (ssize_t n; (n = ::write(out.write(), "x", 1)) > 0;) filled += std::size_t(n);
  const pid_t pid = startTool(movie.path().string(), out.write());
  out.closeWrite();
  // The tool finds the pipe full; the reader comes later, as an event loop would.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const std::string all = out.drain();
  EXPECT_EQ(exitStatusOf(pid), 0);
  ASSERT_EQ(all.size(), filled + 4);
  EXPECT_EQ(all.substr(filled), "300\n");
}

TEST(CommandLine, FifoWithAWriterWaitingIsLeftAlone) {
  TempDirectory dir;
  const std::filesystem::path fifo = dir.path() / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // A writer blocks in open until some reader opens the FIFO.
  const pid_t writer = ::fork();
  if (writer == 0) {
    const int fd = ::open(fifo.c_str(), O_WRONLY);
    ::_exit(fd >= 0 ? 0 : 1);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  expectAnswer(runTool({fifo.string()}), "0\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  int status = 0;
  EXPECT_EQ(::waitpid(writer, &status, WNOHANG), 0) << "the tool's open released the writer";
  // Release it ourselves.
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  EXPECT_EQ(exitStatusOf(writer), 0);
  ::close(reader);
}

}  // namespace
}  // namespace ostrel::testing
