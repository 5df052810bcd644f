#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <ostrel/ostrel.h>

#include "Media/TrackReader.h"
#include "TimecodeFormat.h"

namespace ostrel::explain {

// What the scan of one file met, in the order it met it, and its answer.
struct Explanation {
  // At most this many tracks are listed, and for each at most this many
  // descriptions and samples passed over or tried; the rest are only counted,
  // so that memory stays small whatever the movie holds.
  static constexpr std::size_t kListedTracks = 64;
  static constexpr std::size_t kListedSamples = 12;

  struct Container {
    std::string kind;                // "QuickTime" or "MP4"
    std::string brand;               // ftyp's major brand; empty without ftyp
    std::optional<std::uint64_t> movieOffset, movieSize;
    bool movieAfterMedia = false;
    bool compressed = false;
    bool fragmented = false;
    std::uint64_t tracks = 0;
  };

  struct Description {
    std::uint32_t index = 0;
    std::string format;
    std::optional<TimecodeDescription> timecode;  // for the timecode formats
  };

  // Samples passed over by the reader, or tried and not decoded.
  struct Samples {
    std::string format;
    std::uint32_t descriptionIndex = 0;
    std::uint64_t offset = 0;
    std::optional<std::uint64_t> size;
    std::uint64_t count = 0;
    std::string why;
  };

  struct Track {
    std::uint64_t number = 0;  // from 1, in list order
    std::uint32_t id = 0;
    std::string handler;
    bool timecode = false;
    std::vector<Description> descriptions;
    std::vector<Samples> samples;  // at most kListedSamples
    std::uint64_t unlistedSamples = 0;
  };

  struct Answer {
    StartFrame frame = 0;
    std::uint64_t track = 0;  // its number
    std::uint64_t offset = 0;
    std::optional<TimecodeDescription> description;
    std::optional<std::string> timecode;
    std::vector<std::string> warnings;
  };

  std::string file;
  std::uint64_t size = 0;
  Container container;
  std::vector<Track> tracks;
  std::uint64_t unlistedTracks = 0;
  std::uint64_t unlistedTimecodeTracks = 0;
  std::optional<Answer> answer;
  bool gaveUp = false;  // too many samples that did not decode

  // The line the tool prints for the same file, without its line feed.
  std::string toolAnswer() const { return std::to_string(answer ? answer->frame : 0); }
};

// Explains an opened movie: the same scan as the tool's, watched.
Explanation explain(const media::Asset& asset, std::string file);

void printText(const Explanation& explanation, std::ostream& out);
void printJson(const Explanation& explanation, std::ostream& out);

}  // namespace ostrel::explain
