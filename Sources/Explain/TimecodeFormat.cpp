#include "TimecodeFormat.h"

#include <cmath>
#include <cstdio>

#include "Media/Fields.h"

namespace ostrel::explain {

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

std::optional<std::string> TimecodeDescription::counterMismatch() const {
  const std::optional<double> frames = rate();
  if (!frames) return std::nullopt;
  const long expected = std::lround(*frames);
  if (expected == static_cast<long>(framesPerSecond)) return std::nullopt;
  return "the description counts " + std::to_string(framesPerSecond) + " frames a second, but its frame duration " +
         std::to_string(frameDuration) + "/" + std::to_string(timeScale) + " makes " + rateString(*frames) +
         " fps, which counts " + std::to_string(expected) + "; the timecode above counts in " +
         std::to_string(framesPerSecond) + "s";
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

}  // namespace ostrel::explain
