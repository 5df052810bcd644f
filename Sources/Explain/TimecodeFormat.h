#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

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
};

// A frame number read as a timecode, the way a person would check it.
//
// When a description's counter is not its frame duration's rate rounded, as
// GoPro cameras write a counter of 29 at 29.97 fps, the frame duration wins:
// the frames are counted in the rounded rate, as drop-frame at 29.97 and
// 59.94, and the counter's own reading is kept beside it.
struct TimecodeReading {
  std::optional<std::string> timecode;
  std::uint32_t countedIn = 0;  // frames a second
  bool dropFrame = false;
  bool contradicts = false;  // the counter disagrees with the frame duration
  std::optional<std::string> asStored;  // the counter's reading, when it disagrees
  std::vector<std::string> warnings;

  static TimecodeReading of(StartFrame frame, const TimecodeDescription& description);
};

// `frame` as HH:MM:SS:FF counted in `framesPerSecond`, with ';' before the
// frames and the frame numbers that drop-frame timecode skips left out when
// `dropFrame`; hours wrap at 24 when `wrapsAt24Hours`. Nothing for a counter
// of 0, or for drop-frame with a counter that is not a multiple of 30.
std::optional<std::string> timecodeString(StartFrame frame, std::uint32_t framesPerSecond, bool dropFrame,
                                          bool wrapsAt24Hours);

// A rate as people write it: 25, 29.97, 23.976.
std::string rateString(double rate);
// The same rate as a number of three decimals at most, for JSON and CSV.
double roundedRate(double rate);

// Seconds since 1904-01-01 00:00:00, as movie headers count them, as
// "YYYY-MM-DDTHH:MM:SS"; nothing for 0 (not set) or a date past the year 9999.
std::optional<std::string> movieTimeString(std::uint64_t seconds);

// The time code of the first MPEG-1 or MPEG-2 video group of pictures header
// (start code 00 00 01 B8) in `bytes`, as HH:MM:SS:FF, ';' before the frames
// when its drop-frame flag is set; nothing without a well-formed one.
std::optional<std::string> groupOfPicturesTimecode(std::span<const std::uint8_t> bytes);

}  // namespace ostrel::explain
