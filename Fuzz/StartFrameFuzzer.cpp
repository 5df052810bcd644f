// The tool's whole reading path over bytes in memory.

#include <cstddef>
#include <cstdint>

#include <ostrel/ostrel.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  (void)ostrel::readStartFrame(data, size);
  return 0;
}
