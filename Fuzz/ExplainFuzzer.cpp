// The companion's whole path over bytes in memory: the watched scan, then
// every way of printing what it met.

#include <cstddef>
#include <cstdint>
#include <sstream>

#include "Explain/Explain.h"
#include "Explain/Record.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const ostrel::explain::Explanation explanation =
      ostrel::explain::explain(ostrel::media::Asset::openBytes({data, size}), "input");
  std::ostringstream out;
  ostrel::explain::printText(explanation, out);
  out << ostrel::explain::jsonLine(explanation) << ostrel::explain::csvRow(explanation);
  return 0;
}
