#include "App.h"

#include <cerrno>
#include <charconv>
#include <poll.h>
#include <unistd.h>

#include <ostrel/ostrel.h>

namespace ostrel {

namespace {

// Digits and a line feed in one write. A non-blocking descriptor that is full
// (a parent's event loop may have made it so) is waited on, not dropped; any
// other failure gives up, since there is nobody to tell.
void writeLine(StartFrame number) {
  char line[16];
  char* end = std::to_chars(line, line + sizeof line - 1, number).ptr;
  *end++ = '\n';
  const char* next = line;
  while (next < end) {
    const ssize_t written = ::write(STDOUT_FILENO, next, static_cast<std::size_t>(end - next));
    if (written > 0) {
      next += written;
    } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd output{STDOUT_FILENO, POLLOUT, 0};
      if (::poll(&output, 1, -1) < 0 && errno != EINTR) return;
    } else if (written == 0 || errno != EINTR) {
      return;
    }
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
