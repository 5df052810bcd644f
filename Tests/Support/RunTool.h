#pragma once

// Runs the built tool as a process, with its output, status and time.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

extern char** environ;

namespace ostrel::testing {

struct ToolRun {
  std::string out;
  std::string err;
  int status = -1;
  double seconds = 0;
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

// Runs a program with the given arguments (program name excluded).
inline ToolRun runProgram(const std::string& program, const std::vector<std::string>& arguments,
                          bool closeOutputEarly = false) {
  Pipe out, err;
  ToolRun run;
  if (!out.ok() || !err.ok()) return run;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out.write(), STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err.write(), STDERR_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  std::vector<std::string> all = {program};
  all.insert(all.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (closeOutputEarly) out.closeRead();
  const auto started = std::chrono::steady_clock::now();
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  out.closeWrite();
  err.closeWrite();
  if (spawned != 0) return run;
  if (!closeOutputEarly) run.out = out.drain();
  run.err = err.drain();
  ::waitpid(pid, &run.status, 0);
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  return run;
}

inline ToolRun runTool(const std::vector<std::string>& arguments, bool closeOutputEarly = false) {
  return runProgram(OSTREL_BINARY, arguments, closeOutputEarly);
}

}  // namespace ostrel::testing
