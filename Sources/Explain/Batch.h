#pragma once

#include "Walk.h"

namespace ostrel::explain {

enum class Format { Text, Json, Csv };

struct BatchOptions {
  Format format = Format::Text;
  unsigned jobs = 1;        // files read at once
  bool progress = false;    // a progress line on standard error
};

// Explains every file of the walk, `jobs` at a time, and writes the records
// to standard output in walk order as soon as each is ready, whatever the
// order they finish in: only a bounded window of results is held. A path
// that cannot be read is a record too, and a message on standard error.
// Returns the exit status: 0 when every path was read, 1 otherwise. An
// interrupt ends the run after the last whole record.
int runBatch(Walk& walk, const BatchOptions& options);

}  // namespace ostrel::explain
