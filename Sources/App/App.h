#pragma once

#include <span>

namespace ostrel {

// The command line: one path in, one decimal line out, and 0 for everything
// that yields no frame number, wrong argument counts included.
struct App {
  static void main(std::span<const char* const> arguments);
};

}  // namespace ostrel
