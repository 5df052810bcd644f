#include "Record.h"

#include "App/Scan.h"

namespace ostrel::explain {

namespace {

using Json = nlohmann::ordered_json;

// The length of the well-formed UTF-8 sequence at the start of `text`, or 0.
std::size_t sequenceLength(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing past U+10FFFF
  } else {
    return 0;
  }
  if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return length;
}

bool isValidUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = sequenceLength(text.substr(i));
    if (length == 0) return false;
    i += length;
  }
  return true;
}

std::string hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (const char c : bytes) {
    out += kDigits[static_cast<unsigned char>(c) >> 4];
    out += kDigits[static_cast<unsigned char>(c) & 0xF];
  }
  return out;
}

template <typename T>
Json orNull(const std::optional<T>& value) {
  return value ? Json(*value) : Json(nullptr);
}

Json descriptionJson(const TimecodeDescription& d) {
  const std::optional<double> rate = d.rate();
  return {{"timeScale", d.timeScale},
          {"frameDuration", d.frameDuration},
          {"framesPerSecond", rate ? Json(roundedRate(*rate)) : Json(nullptr)},
          {"counter", d.framesPerSecond},
          {"dropFrame", d.dropFrame()},
          {"wrapsAt24Hours", d.wrapsAt24Hours()},
          {"negativeTimes", (d.flags & TimecodeDescription::kNegativeTimes) != 0}};
}

Json decodedJson(const Explanation::Decoded& d) {
  return {{"offset", d.offset},
          {"frame", d.frame},
          {"timecode", orNull(d.reading.timecode)},
          {"timecodeAsStored", orNull(d.reading.asStored)}};
}

Json trackJson(const Explanation::Track& t, const Explanation& e) {
  Json descriptions = Json::array();
  for (const Explanation::Description& d : t.descriptions) {
    descriptions.push_back({{"index", d.index},
                            {"format", d.format},
                            {"timecode", d.timecode ? descriptionJson(*d.timecode) : Json(nullptr)}});
  }
  Json passedOver = Json::array();
  for (const Explanation::Samples& s : t.samples) {
    passedOver.push_back({{"offset", s.offset},
                          {"size", orNull(s.size)},
                          {"count", s.count},
                          {"description", s.descriptionIndex},
                          {"format", s.format.empty() ? Json(nullptr) : Json(s.format)},
                          {"why", s.why}});
  }
  return {{"number", t.number},
          {"id", t.id},
          {"handler", t.handler},
          {"timecode", t.timecode},
          {"descriptions", descriptions},
          {"passedOver", passedOver},
          {"unlistedSamples", t.unlistedSamples},
          {"firstDecodable", t.first ? decodedJson(*t.first) : Json(nullptr)},
          {"answers", e.answer && e.answer->track == t.number}};
}

// A field as RFC 4180 writes it: quoted when it holds a comma, a quote or a
// line break, with quotes doubled.
std::string csvField(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

}  // namespace

std::string validUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = sequenceLength(text.substr(i));
    if (length == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
    } else {
      out.append(text.substr(i, length));
      i += length;
    }
  }
  return out;
}

Json jsonRecord(const Explanation& e) {
  const Explanation::Container& c = e.container;
  Json container = nullptr;
  if (c.movieOffset) {
    container = {{"kind", c.kind},
                 {"brand", c.brand.empty() ? Json(nullptr) : Json(c.brand)},
                 {"movieOffset", *c.movieOffset},
                 {"movieSize", *c.movieSize},
                 {"movieAfterMedia", c.movieAfterMedia},
                 {"compressed", c.compressed},
                 {"fragmented", c.fragmented},
                 {"tracks", c.tracks}};
  }
  Json cutShort = nullptr;
  if (e.cutShort) {
    cutShort = {{"box", e.cutShort->box},
                {"offset", e.cutShort->offset},
                {"claims", e.cutShort->claims},
                {"fileEnds", e.cutShort->fileEnds}};
  }
  Json tracks = Json::array();
  for (const Explanation::Track& t : e.tracks) tracks.push_back(trackJson(t, e));
  Json hints = Json::array();
  for (const Explanation::Hint& h : e.hints) {
    hints.push_back({{"source", h.source}, {"track", h.track}, {"timecode", h.timecode}});
  }
  const Explanation::Decoded* a = e.answer ? &e.answer->sample : nullptr;
  Json warnings = Json::array();
  if (a != nullptr) {
    for (const std::string& w : a->warnings) warnings.push_back(w);
  }
  const bool exactName = isValidUtf8(e.file);
  const bool read = !e.error;
  return {
      {"file", validUtf8(e.file)},
      {"fileBytes", exactName ? Json(nullptr) : Json(hex(e.file))},
      {"error", orNull(e.error)},
      {"size", read ? Json(e.size) : Json(nullptr)},
      {"created", orNull(e.created)},
      {"cutShort", cutShort},
      {"container", container},
      {"tracks", tracks},
      {"unlistedTracks", e.unlistedTracks},
      {"frame", a != nullptr ? Json(a->frame) : Json(nullptr)},
      {"timecode", a != nullptr ? orNull(a->reading.timecode) : Json(nullptr)},
      {"timecodeAsStored", a != nullptr ? orNull(a->reading.asStored) : Json(nullptr)},
      {"countedIn", a != nullptr && a->reading.timecode ? Json(a->reading.countedIn) : Json(nullptr)},
      {"dropFrame", a != nullptr && a->reading.timecode ? Json(a->reading.dropFrame) : Json(nullptr)},
      {"rate", a != nullptr && a->description ? descriptionJson(*a->description) : Json(nullptr)},
      {"track", e.answer ? Json(e.answer->track) : Json(nullptr)},
      {"trackId", e.answer ? Json(e.answer->trackId) : Json(nullptr)},
      {"sampleOffset", a != nullptr ? Json(a->offset) : Json(nullptr)},
      {"gaveUp", e.gaveUp},
      {"reason", orNull(e.reason())},
      {"hints", hints},
      {"warnings", warnings},
      {"answer", e.answer ? e.answer->sample.frame : 0},
  };
}

std::string jsonLine(const Explanation& explanation) {
  // Every string is valid UTF-8 by now; a stray byte would be replaced, not thrown over.
  return jsonRecord(explanation).dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

std::string csvHeader() { return "file,answer,timecode,rate,drop_frame,track_id,created,reason,error,file_bytes\r\n"; }

std::string csvRow(const Explanation& e) {
  const Explanation::Decoded* a = e.answer ? &e.answer->sample : nullptr;
  const bool timecode = a != nullptr && a->reading.timecode;
  const std::string rate = a != nullptr && a->description && a->description->rate()
                               ? rateString(*a->description->rate())
                               : std::string();
  const std::string fields[] = {
      validUtf8(e.file),
      e.toolAnswer(),
      timecode ? *a->reading.timecode : "",
      rate,
      timecode ? (a->reading.dropFrame ? "true" : "false") : "",
      e.answer ? std::to_string(e.answer->trackId) : "",
      e.created.value_or(""),
      e.reason().value_or(""),
      e.error.value_or(""),
      isValidUtf8(e.file) ? "" : hex(e.file),
  };
  std::string row;
  for (const std::string& field : fields) {
    if (&field != &fields[0]) row += ',';
    row += csvField(field);
  }
  return row + "\r\n";
}

}  // namespace ostrel::explain
