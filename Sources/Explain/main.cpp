// ostrel-explain: says why ostrel gives the answer it gives for a movie, and
// shows that answer as a timecode; over many files and folders at once, as
// text for people or as JSON Lines or CSV for pipelines.

#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "Batch.h"
#include "Walk.h"

namespace {

constexpr const char* kDescription =
    "Explains the frame number that ostrel prints for each QuickTime or MP4 movie\n"
    "given: the container, each track in order, each timecode track's sample\n"
    "descriptions, the samples passed over with the reason why, and each timecode\n"
    "track's first sample that decodes, as a frame number and as a timecode. The\n"
    "last line of each, 'answer: N', is what ostrel prints for the same file.\n"
    "\n"
    "A folder is read recursively: its regular files named .mov, .mp4, .m4v, .3gp\n"
    "or .3g2 (any case), in name order; symbolic links inside it are not followed.";

unsigned processors() {
  cpu_set_t usable;
  if (::sched_getaffinity(0, sizeof usable, &usable) == 0 && CPU_COUNT(&usable) > 0) {
    return static_cast<unsigned>(CPU_COUNT(&usable));
  }
  const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<unsigned>(online) : 1;
}

int run(int argc, char** argv) {
  CLI::App app(kDescription, "ostrel-explain");
  app.set_version_flag("--version", "ostrel-explain " OSTREL_VERSION);
  bool json = false, csv = false, everyFile = false, quiet = false;
  unsigned jobs = processors();
  std::vector<std::string> paths;
  CLI::Option* jsonOption = app.add_flag("--json", json, "one JSON object a file, a line each (JSON Lines)");
  app.add_flag("--csv", csv, "CSV (RFC 4180): a header line, then a row a file")->excludes(jsonOption);
  app.add_option("-j,--jobs", jobs, "files read at once (default: the number of CPUs)")
      ->check(CLI::Range(1u, 1024u));
  app.add_flag("--all-files", everyFile, "in folders, read every regular file, not only movies by name");
  app.add_flag("-q,--quiet", quiet, "no progress line");
  app.add_option("path", paths, "movie files, and folders to read recursively")->required();
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    return app.exit(error) == 0 ? 0 : 2;
  }

  ostrel::explain::Walk walk(std::move(paths), everyFile);
  const ostrel::explain::BatchOptions options{
      .format = json ? ostrel::explain::Format::Json
                     : csv ? ostrel::explain::Format::Csv : ostrel::explain::Format::Text,
      .jobs = jobs,
      .progress = !quiet && ::isatty(STDERR_FILENO) == 1,
  };
  return ostrel::explain::runBatch(walk, options);
}

}  // namespace

int main(int argc, char** argv) {
  // A reader that went away ends the run at once, without a message.
  ::signal(SIGPIPE, SIG_DFL);
  try {
    return run(argc, argv);
  } catch (const std::exception& error) {
    std::cerr << "ostrel-explain: " << error.what() << "\n";
    return 1;
  }
}
