// The companion as a process: many paths and folders, JSON Lines and CSV,
// the same bytes whatever the number of jobs, and the manners of a Unix tool.

#include <ostrel/ostrel.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <thread>
#include <sstream>

#include <nlohmann/json.hpp>

#include "Support/RunTool.h"
#include "Support/TempFile.h"

namespace ostrel::testing {
namespace {

namespace fs = std::filesystem;

fs::path fixture(const char* name) { return fs::path(OSTREL_FIXTURES) / name; }

ToolRun explainCommand(const std::vector<std::string>& arguments) {
  return runProgram(OSTREL_EXPLAIN_BINARY, arguments);
}

void expectExit(const ToolRun& run, int status) {
  ASSERT_TRUE(WIFEXITED(run.status)) << run.status;
  EXPECT_EQ(WEXITSTATUS(run.status), status);
}

std::vector<std::string> lines(const std::string& text, const std::string& end = "\n") {
  std::vector<std::string> out;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t next = text.find(end, at);
    out.push_back(text.substr(at, next - at));
    at = next == std::string::npos ? text.size() : next + end.size();
  }
  return out;
}

// Every fixture, spread over nested folders, with a name or two that sorts
// differently bytewise than a person would sort it.
struct Tree {
  TempDirectory root;
  std::vector<fs::path> movies;  // in the order the walk must give them

  Tree() {
    const char* names[] = {"ntsc-drop.mov", "pal.mp4", "two-timecodes.mov", "frag-cmaf.mp4", "no-timecode.mp4",
                           "ntsc-film.mov", "mpeg2-gop.mov", "thirty.mov"};
    const fs::path places[] = {root.path() / "B", root.path() / "a" / "deep" / "er", root.path() / "a",
                               root.path() / "a" / "Z"};
    for (std::size_t i = 0; i < std::size(names); ++i) {
      const fs::path& folder = places[i % std::size(places)];
      fs::create_directories(folder);
      fs::copy_file(fixture(names[i]), folder / ("clip" + std::to_string(i) + fs::path(names[i]).extension().string()));
    }
    for (const auto& entry : fs::recursive_directory_iterator(root.path())) {
      if (entry.is_regular_file()) movies.push_back(entry.path());
    }
    // Bytewise, folder by folder: "B" before "a", "Z" before "clip" and "deep".
    std::sort(movies.begin(), movies.end(), [](const fs::path& a, const fs::path& b) {
      return a.string() < b.string();
    });
  }
};

TEST(ExplainCommand, ConventionsOfAToolForPeople) {
  for (const char* help : {"--help", "-h"}) {
    const ToolRun run = explainCommand({help});
    expectExit(run, 0);
    EXPECT_NE(run.out.find("Usage: ostrel-explain"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("--jobs"), std::string::npos) << run.out;
  }
  const ToolRun version = explainCommand({"--version"});
  expectExit(version, 0);
  EXPECT_EQ(version.out.rfind("ostrel-explain ", 0), 0u);
  for (const std::vector<std::string>& wrong : std::vector<std::vector<std::string>>{
           {}, {"--frobnicate", fixture("pal.mp4")}, {"--json", "--csv", fixture("pal.mp4")}, {"--jobs", "0", "x"}}) {
    const ToolRun run = explainCommand(wrong);
    expectExit(run, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err, "");
  }
}

TEST(ExplainCommand, TextBlocksOneAFileEachEndingWithTheToolsAnswer) {
  const ToolRun run = explainCommand({fixture("ntsc-drop.mov"), fixture("pal.mp4")});
  expectExit(run, 0);
  const std::size_t gap = run.out.find("\nanswer: 107894\n\nfile: ");
  ASSERT_NE(gap, std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\ntimecode: 01:00:00;02 "), std::string::npos) << run.out;
  EXPECT_TRUE(run.out.ends_with("\nanswer: 900000\n")) << run.out;
  EXPECT_EQ(run.err, "");
}

TEST(ExplainCommand, EveryFileOfATreeAnswersAsTheToolInEachFormatWhateverTheJobs) {
  const Tree tree;
  const ToolRun json = explainCommand({"--json", "--jobs", "1", tree.root.path()});
  expectExit(json, 0);
  const std::vector<std::string> records = lines(json.out);
  ASSERT_EQ(records.size(), tree.movies.size()) << json.out;
  for (std::size_t i = 0; i < records.size(); ++i) {
    const nlohmann::json record = nlohmann::json::parse(records[i]);
    EXPECT_EQ(record["file"], tree.movies[i].string());
    EXPECT_EQ(record["answer"], readStartFrame(tree.movies[i]).value_or(0)) << tree.movies[i];
  }
  const ToolRun csv = explainCommand({"--csv", "--jobs", "1", tree.root.path()});
  expectExit(csv, 0);
  const std::vector<std::string> rows = lines(csv.out, "\r\n");
  ASSERT_EQ(rows.size(), tree.movies.size() + 1) << csv.out;
  EXPECT_EQ(rows[0].rfind("file,answer,timecode,rate,drop_frame,", 0), 0u) << rows[0];
  for (std::size_t i = 0; i < tree.movies.size(); ++i) {
    const std::string expected =
        tree.movies[i].string() + "," + std::to_string(readStartFrame(tree.movies[i]).value_or(0)) + ",";
    EXPECT_EQ(rows[i + 1].rfind(expected, 0), 0u) << rows[i + 1];
  }
  // The same bytes with four jobs, and with the default.
  for (const std::string& jobs : {"4", ""}) {
    std::vector<std::string> arguments = {"--json", tree.root.path()};
    if (!jobs.empty()) arguments.insert(arguments.begin(), {"--jobs", jobs});
    EXPECT_EQ(explainCommand(arguments).out, json.out) << "--jobs " << jobs;
  }
  EXPECT_EQ(explainCommand({"--csv", "--jobs", "4", tree.root.path()}).out, csv.out);
}

TEST(ExplainCommand, FoldersHoldOnlyRegularMoviesAndNoLinksAreFollowed) {
  TempDirectory dir;
  const fs::path folder = dir.path() / "card";
  fs::create_directories(folder / "sub");
  fs::copy_file(fixture("ntsc-drop.mov"), folder / "A001.MOV");
  fs::copy_file(fixture("pal.mp4"), folder / "sub" / "B002.mp4");
  fs::copy_file(fixture("pal.mp4"), folder / "notes.txt");
  ASSERT_EQ(::mkfifo((folder / "pipe.mov").c_str(), 0600), 0);
  fs::create_directory_symlink("..", folder / "sub" / "loop");
  fs::create_symlink(folder / "A001.MOV", folder / "link.mov");
  const ToolRun run = explainCommand({"--csv", folder});
  expectExit(run, 0);
  EXPECT_EQ(run.err, "");
  const std::vector<std::string> rows = lines(run.out, "\r\n");
  ASSERT_EQ(rows.size(), 3u) << run.out;
  EXPECT_EQ(rows[1].rfind((folder / "A001.MOV").string() + ",107894,", 0), 0u) << rows[1];
  EXPECT_EQ(rows[2].rfind((folder / "sub" / "B002.mp4").string() + ",900000,", 0), 0u) << rows[2];
  // Every regular file, when asked; a link given by name is followed.
  EXPECT_EQ(lines(explainCommand({"--csv", "--all-files", folder}).out, "\r\n").size(), 4u);
  EXPECT_TRUE(explainCommand({folder / "link.mov"}).out.ends_with("\nanswer: 107894\n"));
}

TEST(ExplainCommand, APathThatCannotBeReadIsARecordAndAMessageAndTheRunGoesOn) {
  TempDirectory dir;
  const fs::path missing = dir.path() / "missing.mov";
  const fs::path fifo = dir.path() / "fifo.mov";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const ToolRun run = explainCommand({"--json", fixture("pal.mp4"), missing, fifo, fixture("ntsc-drop.mov")});
  expectExit(run, 1);
  const std::vector<std::string> records = lines(run.out);
  ASSERT_EQ(records.size(), 4u) << run.out;
  const nlohmann::json gone = nlohmann::json::parse(records[1]);
  EXPECT_EQ(gone["error"], "No such file or directory");
  EXPECT_EQ(gone["answer"], 0);
  EXPECT_EQ(nlohmann::json::parse(records[2])["error"], "not a regular file");
  EXPECT_EQ(nlohmann::json::parse(records[3])["answer"], 107894);
  // Every record holds the same keys, in the same order.
  std::vector<std::string> keys;
  for (const std::string& record : records) {
    std::vector<std::string> these;
    const nlohmann::ordered_json parsed = nlohmann::ordered_json::parse(record);
    for (const auto& item : parsed.items()) these.push_back(item.key());
    if (keys.empty()) keys = these;
    EXPECT_EQ(these, keys);
  }
  EXPECT_EQ(run.err, "ostrel-explain: " + missing.string() + ": No such file or directory\n" + "ostrel-explain: " +
                         fifo.string() + ": not a regular file\n");
}

TEST(ExplainCommand, AwkwardNamesAreQuotedAndValidUtf8) {
  TempDirectory dir;
  const std::string names[] = {"comma,name.mov", "quote\"name.mov", "line\nfeed.mov", "byte\xFF.mov"};
  for (const std::string& name : names) fs::copy_file(fixture("ntsc-drop.mov"), dir.path() / name);
  const std::string folder = dir.path().string() + "/";
  const ToolRun json = explainCommand({"--json", folder});
  expectExit(json, 0);
  std::map<std::string, nlohmann::json> byName;
  for (const std::string& record : lines(json.out)) {
    const nlohmann::json parsed = nlohmann::json::parse(record);  // throws on invalid UTF-8
    byName[parsed["file"]] = parsed;
  }
  ASSERT_EQ(byName.size(), 4u) << json.out;
  const nlohmann::json& replaced = byName.at(folder + "byte\xEF\xBF\xBD.mov");
  std::string hex;
  for (const unsigned char c : folder + "byte\xFF.mov") {
    char two[3];
    std::snprintf(two, sizeof two, "%02x", c);
    hex += two;
  }
  EXPECT_EQ(replaced["fileBytes"], hex);
  EXPECT_EQ(byName.at(folder + "line\nfeed.mov")["fileBytes"], nullptr);

  const ToolRun csv = explainCommand({"--csv", folder});
  expectExit(csv, 0);
  EXPECT_NE(csv.out.find("\r\n\"" + folder + "comma,name.mov\",107894,"), std::string::npos) << csv.out;
  EXPECT_NE(csv.out.find("\r\n\"" + folder + "quote\"\"name.mov\",107894,"), std::string::npos) << csv.out;
  EXPECT_NE(csv.out.find("\r\n\"" + folder + "line\nfeed.mov\",107894,"), std::string::npos) << csv.out;
  EXPECT_NE(csv.out.find("\r\n" + folder + "byte\xEF\xBF\xBD.mov,107894,"), std::string::npos) << csv.out;
}

TEST(ExplainCommand, AClosedOutputEndsTheRunAtOnceWithoutAMessage) {
  const Tree tree;
  const ToolRun run = runProgram(OSTREL_EXPLAIN_BINARY, {"--json", tree.root.path()}, /*closeOutputEarly=*/true);
  EXPECT_EQ(run.err, "");
  ASSERT_TRUE(WIFSIGNALED(run.status));
  EXPECT_EQ(WTERMSIG(run.status), SIGPIPE);
}

// Runs the companion with standard output a pipe and standard error a pipe
// or a terminal, and pauses it for over a second once its first records
// arrive, so that the run lasts long enough for a progress line however fast
// the machine. Returns what standard error showed.
std::string standardErrorOfAPausedRun(std::vector<std::string> arguments, bool terminal) {
  int errors[2] = {-1, -1};
  int output[2] = {-1, -1};
  if (::pipe(output) != 0) return "no pipe";
  pid_t pid = -1;
  if (terminal) {
    pid = ::forkpty(&errors[0], nullptr, nullptr, nullptr);
  } else if (::pipe(errors) == 0) {
    pid = ::fork();
  }
  if (pid < 0) return "no process";
  if (pid == 0) {
    ::dup2(output[1], STDOUT_FILENO);
    if (!terminal) ::dup2(errors[1], STDERR_FILENO);
    std::vector<char*> argv = {const_cast<char*>(OSTREL_EXPLAIN_BINARY)};
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    ::execv(OSTREL_EXPLAIN_BINARY, argv.data());
    ::_exit(127);
  }
  ::close(output[1]);
  if (!terminal) ::close(errors[1]);
  char buffer[65536];
  bool paused = false;
  for (ssize_t got; (got = ::read(output[0], buffer, sizeof buffer)) > 0;) {
    if (paused) continue;
    paused = true;
    ::kill(pid, SIGSTOP);
    std::this_thread::sleep_for(std::chrono::milliseconds(1300));
    ::kill(pid, SIGCONT);
  }
  std::string shown;
  for (ssize_t got; (got = ::read(errors[0], buffer, sizeof buffer)) > 0;) shown.append(buffer, std::size_t(got));
  ::waitpid(pid, nullptr, 0);
  ::close(output[0]);
  ::close(errors[0]);
  return shown;
}

TEST(ExplainCommand, AProgressLineOnlyOnATerminal) {
  TempDirectory dir;
  for (int i = 0; i < 100; ++i) fs::copy_file(fixture("pal.mp4"), dir.path() / ("clip" + std::to_string(i) + ".mp4"));
  std::vector<std::string> arguments(100, dir.path().string());
  arguments.insert(arguments.begin(), {"--csv", "--jobs", "1"});
  EXPECT_EQ(standardErrorOfAPausedRun(arguments, false), "");
  const std::string shown = standardErrorOfAPausedRun(arguments, true);
  EXPECT_NE(shown.find(" files/s, "), std::string::npos) << shown;
  EXPECT_NE(shown.find(" with a timecode"), std::string::npos) << shown;
  EXPECT_TRUE(shown.ends_with("\r\033[K")) << "the line is erased at the end";
  arguments.insert(arguments.begin(), "--quiet");
  EXPECT_EQ(standardErrorOfAPausedRun(arguments, true), "");
}

}  // namespace
}  // namespace ostrel::testing
