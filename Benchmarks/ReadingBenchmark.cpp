// The reading path over movies in memory, without process start: a guard
// against the parser itself getting slower.

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include <ostrel/ostrel.h>

namespace {

std::vector<std::uint8_t> load(const char* name) {
  std::ifstream in(std::filesystem::path(OSTREL_FIXTURES) / name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void readFixture(benchmark::State& state, const char* name) {
  const std::vector<std::uint8_t> movie = load(name);
  for (auto _ : state) {
    benchmark::DoNotOptimize(ostrel::readStartFrame(movie.data(), movie.size()));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * movie.size()));
}

BENCHMARK_CAPTURE(readFixture, mov, "ntsc-drop.mov");
BENCHMARK_CAPTURE(readFixture, twoTracks, "two-timecodes.mov");
BENCHMARK_CAPTURE(readFixture, fragmented, "frag-empty-moov.mp4");
BENCHMARK_CAPTURE(readFixture, noTimecode, "no-timecode.mp4");

}  // namespace

BENCHMARK_MAIN();
