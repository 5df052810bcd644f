// Runs the built tool as a process and checks everything it shows the caller.

#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "Support/BoxWriter.h"
#include "Support/TempFile.h"

extern char** environ;

namespace ostrel::testing {
namespace {

struct ToolRun {
  std::string out;
  std::string err;
  int status = -1;
};

class Pipe {
 public:
  Pipe() { ok_ = ::pipe(fds_) == 0; }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
  ~Pipe() { closeRead(), closeWrite(); }
  int read() const { return fds_[0]; }
  int write() const { return fds_[1]; }
  void closeRead() { if (fds_[0] >= 0) ::close(fds_[0]), fds_[0] = -1; }
  void closeWrite() { if (fds_[1] >= 0) ::close(fds_[1]), fds_[1] = -1; }
  std::string drain() {
    std::string all;
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(fds_[0], buffer, sizeof buffer)) > 0) all.append(buffer, std::size_t(got));
    return all;
  }
  bool ok() const { return ok_; }

 private:
  int fds_[2] = {-1, -1};
  bool ok_;
};

// Runs the tool with the given arguments (program name excluded).
ToolRun runTool(const std::vector<std::string>& arguments, bool closeOutputEarly = false) {
  Pipe out, err;
  ToolRun run;
  if (!out.ok() || !err.ok()) return run;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out.write(), STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err.write(), STDERR_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  std::vector<std::string> all = {OSTREL_BINARY};
  all.insert(all.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (closeOutputEarly) out.closeRead();
  const int spawned = posix_spawn(&pid, OSTREL_BINARY, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  out.closeWrite();
  err.closeWrite();
  if (spawned != 0) return run;
  if (!closeOutputEarly) run.out = out.drain();
  run.err = err.drain();
  ::waitpid(pid, &run.status, 0);
  return run;
}

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
