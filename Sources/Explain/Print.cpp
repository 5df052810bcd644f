#include <cstdio>

#include "App/Scan.h"
#include "Explain.h"

namespace ostrel::explain {

namespace {

std::string plural(std::uint64_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string flagsText(const TimecodeDescription& d) {
  std::string out;
  const auto add = [&](bool on, const char* name) {
    if (!on) return;
    if (!out.empty()) out += ", ";
    out += name;
  };
  add(d.dropFrame(), "drop-frame");
  add(d.wrapsAt24Hours(), "24-hour wrap");
  add((d.flags & TimecodeDescription::kNegativeTimes) != 0, "negative times");
  add((d.flags & TimecodeDescription::kCounter) != 0, "counter");
  return out.empty() ? "none" : out;
}

std::string rateText(const TimecodeDescription& d) {
  const std::optional<double> rate = d.rate();
  return rate ? rateString(*rate) + " fps" : "no rate";
}

std::string samplesText(const Explanation::Samples& s) {
  std::string out = plural(s.count, "sample", "samples") + " at byte " + std::to_string(s.offset);
  if (s.size) out += " (" + plural(*s.size, "byte", "bytes") + (s.count == 1 ? ")" : " each)");
  if (!s.format.empty()) {
    out += ", description " + std::to_string(s.descriptionIndex) + " '" + s.format + "'";
  }
  return out + ": " + s.why;
}

// A string as JSON: quoted, with quotes, backslashes and control characters escaped.
std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string jsonDescription(const TimecodeDescription& d) {
  const std::optional<double> rate = d.rate();
  return "{\"timeScale\": " + std::to_string(d.timeScale) + ", \"frameDuration\": " + std::to_string(d.frameDuration) +
         ", \"framesPerSecond\": " + (rate ? rateString(*rate) : "null") +
         ", \"counter\": " + std::to_string(d.framesPerSecond) + ", \"dropFrame\": " + (d.dropFrame() ? "true" : "false") +
         ", \"wrapsAt24Hours\": " + (d.wrapsAt24Hours() ? "true" : "false") + ", \"negativeTimes\": " +
         ((d.flags & TimecodeDescription::kNegativeTimes) != 0 ? "true" : "false") + "}";
}

}  // namespace

void printText(const Explanation& e, std::ostream& out) {
  const Explanation::Container& c = e.container;
  out << "file: " << e.file << " (" << plural(e.size, "byte", "bytes") << ")\n";
  if (!c.movieOffset) {
    out << "container: no movie box: not a QuickTime or MP4 movie\n";
  } else {
    out << "container: " << c.kind;
    if (!c.brand.empty()) out << " (brand '" << c.brand << "')";
    out << "; movie header at byte " << *c.movieOffset << " (" << plural(*c.movieSize, "byte", "bytes") << "), "
        << (c.movieAfterMedia ? "after" : "before") << " the media data"
        << (c.compressed ? ", compressed" : "") << "; " << (c.fragmented ? "fragmented" : "not fragmented") << "; "
        << plural(c.tracks, "track", "tracks") << "\n";
  }
  for (const Explanation::Track& t : e.tracks) {
    out << "track " << t.number << " (ID " << t.id << "): handler '" << t.handler << "'";
    if (!t.timecode) {
      out << ", not a timecode track: passed over\n";
      continue;
    }
    out << ", a timecode track\n";
    if (t.descriptions.empty()) out << "  no sample descriptions\n";
    for (const Explanation::Description& d : t.descriptions) {
      out << "  description " << d.index << ": '" << d.format << "'";
      if (d.timecode) {
        out << ", time scale " << d.timecode->timeScale << ", frame duration " << d.timecode->frameDuration << " ("
            << rateText(*d.timecode) << "), counter of " << d.timecode->framesPerSecond
            << " frames a second, flags: " << flagsText(*d.timecode);
      } else if (d.format == "tmcd" || d.format == "tc64") {
        out << ", too short to hold the timecode fields";
      } else {
        out << ", not a timecode format";
      }
      out << "\n";
    }
    for (const Explanation::Samples& s : t.samples) out << "  passed over " << samplesText(s) << "\n";
    if (t.unlistedSamples > 0) {
      out << "  and " << plural(t.unlistedSamples, "more sample", "more samples") << " passed over, not listed\n";
    }
    if (e.answer && e.answer->track == t.number) {
      out << "  answered by the sample at byte " << e.answer->offset << "\n";
    } else if (t.samples.empty()) {
      out << "  no samples\n";
    }
  }
  if (e.unlistedTracks > 0) {
    out << plural(e.unlistedTracks, "more track", "more tracks") << " read, not listed ("
        << e.unlistedTimecodeTracks << " of them timecode tracks)";
    if (e.answer && e.answer->track > e.tracks.size()) out << "; track " << e.answer->track << " answered";
    out << "\n";
  }
  const std::uint64_t read = e.tracks.size() + e.unlistedTracks;
  if (read < c.tracks) {
    out << plural(c.tracks - read, "more track", "more tracks") << " not read: the scan stops at its answer\n";
  }
  if (e.answer) {
    out << "frame: " << e.answer->frame << "\n";
    if (e.answer->timecode) {
      const TimecodeDescription& d = *e.answer->description;
      out << "timecode: " << *e.answer->timecode << " (counted in " << d.framesPerSecond << "s"
          << (d.dropFrame() ? ", drop-frame" : "") << "; " << rateText(d) << ")\n";
    }
    for (const std::string& warning : e.answer->warnings) out << "warning: " << warning << "\n";
  } else if (e.gaveUp) {
    out << "no answer: " << kMaxUndecodableSamples << " timecode samples did not decode, and the scan gave up\n";
  } else if (c.movieOffset) {
    out << "no answer: no timecode track holds a sample that decodes\n";
  }
  out << "answer: " << e.toolAnswer() << "\n";
}

void printJson(const Explanation& e, std::ostream& out) {
  const Explanation::Container& c = e.container;
  out << "{\n  \"file\": " << quoted(e.file) << ",\n  \"size\": " << e.size << ",\n  \"container\": ";
  if (!c.movieOffset) {
    out << "null";
  } else {
    out << "{\"kind\": " << quoted(c.kind) << ", \"brand\": " << (c.brand.empty() ? "null" : quoted(c.brand))
        << ", \"movieOffset\": " << *c.movieOffset << ", \"movieSize\": " << *c.movieSize
        << ", \"movieAfterMedia\": " << (c.movieAfterMedia ? "true" : "false")
        << ", \"compressed\": " << (c.compressed ? "true" : "false")
        << ", \"fragmented\": " << (c.fragmented ? "true" : "false") << ", \"tracks\": " << c.tracks << "}";
  }
  out << ",\n  \"tracks\": [";
  for (std::size_t i = 0; i < e.tracks.size(); ++i) {
    const Explanation::Track& t = e.tracks[i];
    out << (i == 0 ? "\n" : ",\n") << "    {\"number\": " << t.number << ", \"id\": " << t.id
        << ", \"handler\": " << quoted(t.handler) << ", \"timecode\": " << (t.timecode ? "true" : "false");
    if (t.timecode) {
      out << ", \"descriptions\": [";
      for (std::size_t j = 0; j < t.descriptions.size(); ++j) {
        const Explanation::Description& d = t.descriptions[j];
        out << (j == 0 ? "" : ", ") << "{\"index\": " << d.index << ", \"format\": " << quoted(d.format)
            << ", \"timecode\": " << (d.timecode ? jsonDescription(*d.timecode) : "null") << "}";
      }
      out << "], \"passedOver\": [";
      for (std::size_t j = 0; j < t.samples.size(); ++j) {
        const Explanation::Samples& s = t.samples[j];
        out << (j == 0 ? "" : ", ") << "{\"offset\": " << s.offset << ", \"size\": "
            << (s.size ? std::to_string(*s.size) : "null") << ", \"count\": " << s.count
            << ", \"description\": " << s.descriptionIndex
            << ", \"format\": " << (s.format.empty() ? "null" : quoted(s.format))
            << ", \"why\": " << quoted(s.why) << "}";
      }
      out << "], \"unlistedSamples\": " << t.unlistedSamples;
    }
    out << "}";
  }
  out << (e.tracks.empty() ? "],\n" : "\n  ],\n");
  out << "  \"unlistedTracks\": " << e.unlistedTracks << ",\n";
  if (e.answer) {
    const Explanation::Answer& a = *e.answer;
    out << "  \"frame\": " << a.frame << ",\n  \"timecode\": " << (a.timecode ? quoted(*a.timecode) : "null")
        << ",\n  \"rate\": " << (a.description ? jsonDescription(*a.description) : "null") << ",\n  \"track\": "
        << a.track << ",\n  \"sampleOffset\": " << a.offset << ",\n  \"warnings\": [";
    for (std::size_t i = 0; i < a.warnings.size(); ++i) out << (i == 0 ? "" : ", ") << quoted(a.warnings[i]);
    out << "],\n";
  } else {
    out << "  \"frame\": null,\n  \"timecode\": null,\n  \"rate\": null,\n  \"gaveUp\": "
        << (e.gaveUp ? "true" : "false") << ",\n";
  }
  out << "  \"answer\": " << e.toolAnswer() << "\n}\n";
}

}  // namespace ostrel::explain
