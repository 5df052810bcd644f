// measure REPORT PROGRAM [ARGUMENT...]
// Runs PROGRAM and writes to REPORT its peak resident memory in KiB and the
// CPU time it used in seconds, on one line. A process's peak includes the
// memory of whatever it was started from, so the tests and the benchmark
// start the tool from this small process instead of from themselves.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

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
  const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  char line[64];
  const int length = std::snprintf(line, sizeof line, "%ld %.6f\n", usage.ru_maxrss, cpu);
  const int report = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (report < 0 || length <= 0 || write(report, line, static_cast<size_t>(length)) != length) return 2;
  close(report);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
