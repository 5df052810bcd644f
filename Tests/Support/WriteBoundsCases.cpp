// write-bounds-cases FOLDER
// Writes the bounds cases into FOLDER (sparse where they are large) and
// prints one line for each: its name, its path, the answer it must give and
// the memory in KiB it may take beyond the limit for every run, separated by
// tabs.

#include <cstdio>

#include "BoundsCases.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const std::filesystem::path folder(argv[1]);
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  for (const ostrel::testing::BoundsCase& c : ostrel::testing::boundsCases()) {
    const std::filesystem::path path = folder / (c.name + ".mov");
    if (!c.file.write(path)) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return 1;
    }
    std::printf("%s\t%s\t%.*s\t%llu\n", c.name.c_str(), path.c_str(), int(c.answer.size()) - 1, c.answer.c_str(),
                static_cast<unsigned long long>(c.extraMemoryKiB));
  }
  return 0;
}
