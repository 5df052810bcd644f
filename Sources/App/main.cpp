#include <csignal>
#include <span>

#include "App.h"

int main(int argc, char** argv) {
  // A reader that went away must not turn into a different exit status.
  std::signal(SIGPIPE, SIG_IGN);
  ostrel::App::main(std::span<const char* const>(argv, static_cast<std::size_t>(argc)));
  return 0;
}
