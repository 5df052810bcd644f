#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <ostrel/ostrel.h>

#include "Media/Asset.h"
#include "TimecodeFormat.h"

namespace ostrel::explain {

// What the scan of one file met, track by track, and its answer: the tool's
// scan, carried on to the first decodable sample of every timecode track.
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

  // A top-level box that claims more bytes than the file has left.
  struct CutShort {
    std::string box;
    std::uint64_t offset = 0;
    std::uint64_t claims = 0;
    std::uint64_t fileEnds = 0;
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

  // A track's first sample that decodes.
  struct Decoded {
    StartFrame frame = 0;
    std::uint64_t offset = 0;
    std::optional<TimecodeDescription> description;
    TimecodeReading reading;
    std::vector<std::string> warnings;
  };

  struct Track {
    std::uint64_t number = 0;  // from 1, in list order
    std::uint32_t id = 0;
    std::string handler;
    bool timecode = false;
    std::vector<Description> descriptions;
    std::vector<Samples> samples;  // at most kListedSamples
    std::uint64_t unlistedSamples = 0;
    std::optional<Decoded> first;
  };

  struct Answer {
    std::uint64_t track = 0;  // its number
    std::uint32_t trackId = 0;
    Decoded sample;
  };

  // Where a timecode may be found outside the timecode tracks.
  struct Hint {
    std::string source;
    std::uint64_t track = 0;  // its number
    std::string timecode;
  };

  std::string file;  // the path as given, bytes as they are
  std::optional<std::string> error;  // why the file could not be read at all
  std::uint64_t size = 0;
  std::optional<std::string> created;  // the movie header's, as stored
  std::optional<CutShort> cutShort;
  Container container;
  std::vector<Track> tracks;
  std::uint64_t unlistedTracks = 0;
  std::uint64_t unlistedTimecodeTracks = 0;
  std::optional<Answer> answer;
  bool gaveUp = false;         // the tool's scan: too many samples that did not decode
  bool listingGaveUp = false;  // the same, over the samples of every track
  std::vector<Hint> hints;     // only without an answer

  // The line the tool prints for the same file, without its line feed.
  std::string toolAnswer() const { return std::to_string(answer ? answer->sample.frame : 0); }
  // Why there is no answer; nothing when there is one or the file could not be read.
  std::optional<std::string> reason() const;
};

// Explains an opened movie: the same scan as the tool's, watched.
Explanation explain(const media::Asset& asset, std::string file);
// Opens and explains the file at `path`; one that cannot be opened is
// explained by its error alone. A FIFO or device is never opened.
Explanation explainFile(const std::filesystem::path& path);

// A person's explanation, ending with the line "answer: N".
void printText(const Explanation& explanation, std::ostream& out);

}  // namespace ostrel::explain
