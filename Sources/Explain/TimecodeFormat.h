#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <ostrel/ostrel.h>

#include "Media/Box.h"
#include "Media/ByteReader.h"

namespace ostrel::explain {

// The fields of a timecode sample description ('tmcd' or 'tc64'), after the
// reserved bytes and the data reference index.
struct TimecodeDescription {
  static constexpr std::uint32_t kDropFrame = 0x1;
  static constexpr std::uint32_t kWrapsAt24Hours = 0x2;
  static constexpr std::uint32_t kNegativeTimes = 0x4;
  static constexpr std::uint32_t kCounter = 0x8;

  std::uint32_t flags = 0;
  std::uint32_t timeScale = 0;
  std::uint32_t frameDuration = 0;
  std::uint32_t framesPerSecond = 0;  // the counter's frames in a second

  static std::optional<TimecodeDescription> read(const media::ByteReader& reader, const media::Box& entry);

  bool dropFrame() const { return (flags & kDropFrame) != 0; }
  bool wrapsAt24Hours() const { return (flags & kWrapsAt24Hours) != 0; }
  // Frames a second from the time scale and frame duration; nothing when either is 0.
  std::optional<double> rate() const;
  // A warning when the counter is not the rate rounded to whole frames.
  std::optional<std::string> counterMismatch() const;
};

// `frame` as HH:MM:SS:FF counted in `framesPerSecond`, with ';' before the
// frames and the frame numbers that drop-frame timecode skips left out when
// `dropFrame`; hours wrap at 24 when `wrapsAt24Hours`. Nothing for a counter
// of 0, or for drop-frame with a counter that is not a multiple of 30.
std::optional<std::string> timecodeString(StartFrame frame, std::uint32_t framesPerSecond, bool dropFrame,
                                          bool wrapsAt24Hours);

// A rate as people write it: 25, 29.97, 23.976.
std::string rateString(double rate);

}  // namespace ostrel::explain
