#include <ostrel/ostrel.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const std::optional<ostrel::StartFrame> frame = ostrel::readStartFrame(argv[1]);
  if (!frame) return 1;
  std::printf("%u\n", *frame);
  return 0;
}
