// peak-memory REPORT PROGRAM [ARGUMENT...]
// Runs PROGRAM and writes its peak resident memory in KiB to REPORT.
// A process's peak includes the memory of whatever it was started from, so
// the tests start the tool from this small process instead of from
// themselves.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <charconv>

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const pid_t child = fork();
  if (child < 0) return 2;
  if (child == 0) {
    execv(argv[2], argv + 2);
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  if (wait4(child, &status, 0, &usage) != child) return 2;
  char line[32];
  char* end = std::to_chars(line, line + sizeof line - 1, usage.ru_maxrss).ptr;
  *end++ = '\n';
  const int report = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (report < 0 || write(report, line, size_t(end - line)) != end - line) return 2;
  close(report);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
