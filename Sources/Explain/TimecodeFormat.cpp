#include "TimecodeFormat.h"

#include <chrono>
#include <cmath>
#include <cstdio>

#include "Media/Fields.h"

namespace ostrel::explain {

namespace {

// 29.97 and 59.94 fps, the rates that drop-frame timecode counts.
bool isNtscRate(double rate) {
  return std::abs(rate - 30000.0 / 1001) < 0.005 || std::abs(rate - 60000.0 / 1001) < 0.005;
}

std::string digits(unsigned hours, unsigned minutes, unsigned seconds, bool dropFrame, unsigned frames) {
  char text[48];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u%c%02u", hours, minutes, seconds, dropFrame ? ';' : ':', frames);
  return text;
}

}  // namespace

std::optional<TimecodeDescription> TimecodeDescription::read(const media::ByteReader& reader,
                                                             const media::Box& entry) {
  // Six reserved bytes, the data reference index, four reserved bytes, then the fields.
  media::Fields fields(reader, entry);
  if (!fields.skip(12)) return std::nullopt;
  const std::optional<std::uint32_t> flags = fields.u32();
  const std::optional<std::uint32_t> timeScale = fields.u32();
  const std::optional<std::uint32_t> frameDuration = fields.u32();
  const std::optional<std::uint8_t> framesPerSecond = fields.u8();
  if (!framesPerSecond) return std::nullopt;
  return TimecodeDescription{*flags, *timeScale, *frameDuration, *framesPerSecond};
}

std::optional<double> TimecodeDescription::rate() const {
  if (timeScale == 0 || frameDuration == 0) return std::nullopt;
  return static_cast<double>(timeScale) / frameDuration;
}

TimecodeReading TimecodeReading::of(StartFrame frame, const TimecodeDescription& d) {
  TimecodeReading reading{.countedIn = d.framesPerSecond, .dropFrame = d.dropFrame()};
  const std::optional<double> rate = d.rate();
  // A rate of 2^32 frames a second rounds to more than a counter holds.
  const double rounded = rate ? std::round(*rate) : 0;
  reading.contradicts = rate && rounded != d.framesPerSecond && rounded <= UINT32_MAX;
  if (reading.contradicts) {
    reading.countedIn = static_cast<std::uint32_t>(rounded);
    reading.dropFrame = isNtscRate(*rate);
    reading.asStored = timecodeString(frame, d.framesPerSecond, d.dropFrame(), d.wrapsAt24Hours());
  }
  reading.timecode = timecodeString(frame, reading.countedIn, reading.dropFrame, d.wrapsAt24Hours());
  if (reading.contradicts) {
    std::string warning = "the description contradicts itself: its counter says " +
                          std::to_string(d.framesPerSecond) + " frames a second, but its frame duration " +
                          std::to_string(d.frameDuration) + "/" + std::to_string(d.timeScale) + " makes " +
                          rateString(*rate) + " fps; the timecode counts in " + std::to_string(reading.countedIn) +
                          "s" + (reading.dropFrame ? ", drop-frame," : "") + " as the frame duration says";
    if (reading.asStored) warning += ", and the timecode as stored is the counter's reading";
    reading.warnings.push_back(warning);
  }
  if (!reading.timecode) {
    reading.warnings.push_back(reading.countedIn == 0
                                   ? "the description counts 0 frames a second: no timecode to show"
                                   : "drop-frame timecode needs a counter of 30 or 60 frames a second");
  }
  return reading;
}

std::optional<std::string> timecodeString(StartFrame frame, std::uint32_t framesPerSecond, bool dropFrame,
                                          bool wrapsAt24Hours) {
  if (framesPerSecond == 0 || (dropFrame && framesPerSecond % 30 != 0)) return std::nullopt;
  std::uint64_t count = frame;
  if (dropFrame) {
    // Two frame numbers a minute for each 30 are skipped, except every tenth minute.
    const std::uint64_t dropped = framesPerSecond / 15;
    const std::uint64_t perMinute = framesPerSecond * 60ull - dropped;
    const std::uint64_t perTenMinutes = framesPerSecond * 600ull - dropped * 9;
    const std::uint64_t tens = count / perTenMinutes;
    const std::uint64_t rest = count % perTenMinutes;
    count += dropped * 9 * tens + (rest > dropped ? dropped * ((rest - dropped) / perMinute) : 0);
  }
  const std::uint64_t frames = count % framesPerSecond;
  const std::uint64_t seconds = count / framesPerSecond;
  std::uint64_t hours = seconds / 3600;
  if (wrapsAt24Hours) hours %= 24;
  char text[48];
  std::snprintf(text, sizeof text, "%02llu:%02llu:%02llu%c%02llu", static_cast<unsigned long long>(hours),
                static_cast<unsigned long long>(seconds / 60 % 60), static_cast<unsigned long long>(seconds % 60),
                dropFrame ? ';' : ':', static_cast<unsigned long long>(frames));
  return text;
}

std::string rateString(double rate) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", rate);
  std::string out = text;
  while (out.back() == '0') out.pop_back();
  if (out.back() == '.') out.pop_back();
  return out;
}

double roundedRate(double rate) { return std::round(rate * 1000) / 1000; }

std::optional<std::string> movieTimeString(std::uint64_t seconds) {
  using namespace std::chrono;
  // 1904-01-01 to 1970-01-01, and to the end of 9999.
  constexpr std::uint64_t kUnixEpoch = 2082844800;
  constexpr std::uint64_t kLast = kUnixEpoch + 253402300799ull;
  if (seconds == 0 || seconds > kLast) return std::nullopt;
  const sys_seconds time{std::chrono::seconds(static_cast<std::int64_t>(seconds) - static_cast<std::int64_t>(kUnixEpoch))};
  const sys_days day = floor<days>(time);
  const year_month_day date{day};
  const hh_mm_ss<std::chrono::seconds> clock{time - day};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02ld:%02ld:%02lld", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<long>(clock.hours().count()), static_cast<long>(clock.minutes().count()),
                static_cast<long long>(clock.seconds().count()));
  return text;
}

std::optional<std::string> groupOfPicturesTimecode(std::span<const std::uint8_t> bytes) {
  for (std::size_t i = 0; i + 8 <= bytes.size(); ++i) {
    if (bytes[i] != 0 || bytes[i + 1] != 0 || bytes[i + 2] != 1 || bytes[i + 3] != 0xB8) continue;
    // 25 bits: drop-frame flag, 5 of hours, 6 of minutes, a marker bit, 6 of seconds, 6 of pictures.
    const std::uint32_t code = (std::uint32_t{bytes[i + 4]} << 24 | std::uint32_t{bytes[i + 5]} << 16 |
                                std::uint32_t{bytes[i + 6]} << 8 | bytes[i + 7]) >> 7;
    const bool dropFrame = (code >> 24) & 1;
    const unsigned hours = (code >> 19) & 0x1F, minutes = (code >> 13) & 0x3F, marker = (code >> 12) & 1;
    const unsigned seconds = (code >> 6) & 0x3F, pictures = code & 0x3F;
    if (marker != 1 || hours > 23 || minutes > 59 || seconds > 59 || pictures > 59) return std::nullopt;
    return digits(hours, minutes, seconds, dropFrame, pictures);
  }
  return std::nullopt;
}

}  // namespace ostrel::explain
