#include "App.h"

#include <cerrno>
#include <charconv>
#include <unistd.h>

#include <ostrel/ostrel.h>

namespace ostrel {

namespace {

// Digits and a line feed in one write; the outcome is not examined.
void writeLine(StartFrame number) {
  char line[16];
  char* end = std::to_chars(line, line + sizeof line - 1, number).ptr;
  *end++ = '\n';
  const char* next = line;
  while (next < end) {
    const ssize_t written = ::write(STDOUT_FILENO, next, static_cast<std::size_t>(end - next));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    next += written;
  }
}

}  // namespace

void App::main(std::span<const char* const> arguments) {
  if (arguments.size() != 2) {
    writeLine(0);
    return;
  }
  std::optional<StartFrame> frame;
  try {
    const std::filesystem::path location(arguments[1]);
    frame = readStartFrame(location);
  } catch (...) {  // making the path can only fail for want of memory
  }
  writeLine(frame.value_or(0));
}

}  // namespace ostrel
