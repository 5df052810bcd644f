#include <csignal>
#include <span>

#include "App.h"

int main(int argc, char** argv) {
  // A reader that went away, or an output file at its size limit, must not
  // turn into a different exit status: the write fails instead.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  ostrel::App::main(std::span<const char* const>(argv, static_cast<std::size_t>(argc)));
  return 0;
}
