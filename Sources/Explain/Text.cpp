#include <cstdio>

#include "App/Scan.h"
#include "Explain.h"
#include "Record.h"

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

std::string timecodeText(const Explanation::Decoded& d) {
  if (!d.reading.timecode) return "";
  return ", timecode " + *d.reading.timecode;
}

}  // namespace

void printText(const Explanation& e, std::ostream& out) {
  const Explanation::Container& c = e.container;
  if (e.error) {
    out << "file: " << validUtf8(e.file) << "\nerror: " << *e.error << "\nanswer: " << e.toolAnswer() << "\n";
    return;
  }
  out << "file: " << validUtf8(e.file) << " (" << plural(e.size, "byte", "bytes") << ")\n";
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
  if (e.cutShort) {
    const Explanation::CutShort& cut = *e.cutShort;
    out << "cut short: the '" << cut.box << "' box at byte " << cut.offset << " claims "
        << plural(cut.claims, "byte", "bytes") << ", but the file ends at byte " << cut.fileEnds << " ("
        << plural(cut.offset + cut.claims - cut.fileEnds, "byte", "bytes") << " short)\n";
  }
  if (e.created) {
    std::string created = *e.created;
    created[10] = ' ';
    out << "created: " << created << " (as the movie header stores it; its time zone is not recorded)\n";
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
      out << "  answered by the sample at byte " << e.answer->sample.offset << ": frame " << e.answer->sample.frame
          << timecodeText(e.answer->sample) << "\n";
    } else if (t.first) {
      out << "  first sample that decodes at byte " << t.first->offset << ": frame " << t.first->frame
          << timecodeText(*t.first) << "; not the answer, which an earlier track gives\n";
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
  if (e.listingGaveUp) {
    out << "the listing stops: " << kMaxUndecodableSamples
        << " timecode samples did not decode, counted over every track\n";
  }
  if (e.answer) {
    const Explanation::Decoded& a = e.answer->sample;
    out << "frame: " << a.frame << " (track " << e.answer->track << ", ID " << e.answer->trackId << ")\n";
    if (a.reading.timecode) {
      out << "timecode: " << *a.reading.timecode << " (counted in " << a.reading.countedIn << "s"
          << (a.reading.dropFrame ? ", drop-frame" : "") << "; " << rateText(*a.description) << ")\n";
    }
    if (a.reading.asStored) {
      out << "timecode as stored: " << *a.reading.asStored << " (counted in " << a.description->framesPerSecond
          << "s, as the description's counter says; other tools show this one)\n";
    }
    for (const std::string& warning : a.warnings) out << "warning: " << warning << "\n";
  } else if (const std::optional<std::string> why = e.reason()) {
    out << "no answer: " << *why << "\n";
  }
  for (const Explanation::Hint& hint : e.hints) {
    out << "a timecode may be in: " << hint.source << " (track " << hint.track << "): " << hint.timecode << "\n";
  }
  out << "answer: " << e.toolAnswer() << "\n";
}

}  // namespace ostrel::explain
