// ostrel-explain: says why ostrel gives the answer it gives for a movie, and
// shows that answer as a timecode.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <span>
#include <string_view>

#include "Explain.h"
#include "Media/Asset.h"

namespace {

constexpr std::string_view kUsage = "usage: ostrel-explain [--json] FILE\n";
constexpr std::string_view kHelp =
    "Explains the frame number that ostrel prints for a QuickTime or MP4 movie:\n"
    "the container, each track in order, each timecode track's sample\n"
    "descriptions and the samples passed over with the reason why, and the\n"
    "sample that answered, as a frame number and as a timecode. The last line,\n"
    "'answer: N', is what ostrel prints for the same file.\n"
    "\n"
    "  --json     the same facts as one JSON object\n"
    "  --help     show this help\n"
    "  --version  show the version\n";

// Why the file cannot be read, or nothing when it can. A FIFO or device is
// never opened: opening may block, or take data from a writer.
std::optional<std::string> unreadable(const char* path) {
  struct stat status {};
  if (::stat(path, &status) != 0) return std::strerror(errno);
  if (!S_ISREG(status.st_mode)) return S_ISDIR(status.st_mode) ? "is a directory" : "not a regular file";
  const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return std::strerror(errno);
  ::close(fd);
  return std::nullopt;
}

int run(std::span<const char* const> arguments) {
  bool json = false;
  const char* path = nullptr;
  bool optionsDone = false;
  for (const char* argument : arguments.subspan(1)) {
    const std::string_view word(argument);
    if (!optionsDone && word == "--") {
      optionsDone = true;
    } else if (!optionsDone && word == "--help") {
      std::cout << kUsage << "\n" << kHelp;
      return 0;
    } else if (!optionsDone && word == "--version") {
      std::cout << "ostrel-explain " OSTREL_VERSION "\n";
      return 0;
    } else if (!optionsDone && word == "--json") {
      json = true;
    } else if (!optionsDone && word.size() > 1 && word[0] == '-') {
      std::cerr << "ostrel-explain: unknown option " << word << "\n" << kUsage;
      return 2;
    } else if (path != nullptr) {
      std::cerr << "ostrel-explain: one file at a time\n" << kUsage;
      return 2;
    } else {
      path = argument;
    }
  }
  if (path == nullptr) {
    std::cerr << kUsage;
    return 2;
  }
  if (const std::optional<std::string> why = unreadable(path)) {
    std::cerr << "ostrel-explain: " << path << ": " << *why << "\n";
    return 1;
  }
  const ostrel::media::Asset asset = ostrel::media::Asset::open(path);
  const ostrel::explain::Explanation explanation = ostrel::explain::explain(asset, path);
  if (json) {
    ostrel::explain::printJson(explanation, std::cout);
  } else {
    ostrel::explain::printText(explanation, std::cout);
  }
  std::cout.flush();
  if (!std::cout) {
    std::cerr << "ostrel-explain: cannot write the explanation\n";
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(std::span<const char* const>(argv, static_cast<std::size_t>(argc)));
  } catch (const std::exception& error) {
    std::cerr << "ostrel-explain: " << error.what() << "\n";
    return 1;
  }
}
