#include "Explain.h"

#include <algorithm>
#include <array>
#include <system_error>

#include "App/Scan.h"
#include "App/TimecodeSample.h"
#include "Media/Fields.h"
#include "Media/TrackReader.h"

namespace ostrel::explain {

namespace {

std::string fourCCText(media::FourCC code) {
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const char c = static_cast<char>((code >> shift) & 0xFF);
    text += c >= 0x20 && c < 0x7F ? c : '?';
  }
  return text;
}

// The size a box's header claims, before the walk clips it to its parent.
std::uint64_t claimedSize(const media::ByteReader& file, const media::Box& box) {
  const std::uint32_t size32 = file.u32(box.offset).value_or(0);
  if (size32 == 1) return file.u64(box.offset + 8).value_or(0);
  if (size32 == 0) return box.size;  // to the end of the file
  return size32;
}

// The top-level boxes: what kind of file this is, where its movie is, and
// whether the last box runs past the end of the file.
void readContainer(const media::Asset& asset, Explanation& out) {
  Explanation::Container& container = out.container;
  const media::ByteReader& file = asset.file();
  bool mediaSeen = false;
  media::ChildBoxes top(file, 0, file.size(), media::ChildBoxes::Level::Top);
  while (const std::optional<media::Box> box = top.next()) {
    if (box->type == media::fourCC("ftyp") && container.brand.empty()) {
      media::Fields fields(file, *box);
      container.brand = fourCCText(fields.u32().value_or(0));
    } else if (box->type == media::fourCC("mdat")) {
      mediaSeen = true;
    } else if (box->type == media::fourCC("moov") && !container.movieOffset) {
      container.movieOffset = box->offset;
      container.movieSize = box->size;
      container.movieAfterMedia = mediaSeen;
    } else if (box->type == media::fourCC("moof") && container.movieOffset) {
      container.fragmented = true;
    }
    const std::uint64_t claims = claimedSize(file, *box);
    if (claims > box->size) {
      out.cutShort = Explanation::CutShort{fourCCText(box->type), box->offset, claims, file.size()};
    }
  }
  container.kind = container.brand.empty() || container.brand == "qt  " ? "QuickTime" : "MP4";
  container.compressed = asset.movieIsCompressed();
  media::TrackList tracks = asset.tracks();
  while (tracks.next()) ++container.tracks;
}

// mvhd: version 1 keeps 64-bit times; the creation time comes first.
std::optional<std::string> readCreationTime(const media::Asset& asset) {
  if (!asset.movie()) return std::nullopt;
  const std::optional<media::Box> header = media::findChild(asset.movieReader(), *asset.movie(), media::fourCC("mvhd"));
  if (!header) return std::nullopt;
  media::Fields fields(asset.movieReader(), *header);
  const std::optional<media::FullBoxHeader> full = media::FullBoxHeader::read(fields);
  if (!full) return std::nullopt;
  const std::optional<std::uint64_t> created =
      full->version == 1 ? fields.u64() : std::optional<std::uint64_t>(fields.u32());
  return created ? movieTimeString(*created) : std::nullopt;
}

// MPEG-1 and MPEG-2 video as QuickTime and MP4 files name it: HDV, XDCAM,
// IMX, and the plain codes. An MPEG-4 video stream never holds the start code
// of a group of pictures, so 'mp4v', which names either, is safe to read too.
constexpr media::WantedFormat kMpegVideo[] = {
    {media::fourCC("mp4v"), 8}, {media::fourCC("m1v "), 8}, {media::fourCC("m2v1"), 8},
    {media::fourCC("mp1v"), 8}, {media::fourCC("mp2v"), 8}, {media::fourCC("mpeg"), 8},
    {media::fourCC("hdv1"), 8}, {media::fourCC("hdv2"), 8}, {media::fourCC("hdv3"), 8},
    {media::fourCC("hdv4"), 8}, {media::fourCC("hdv5"), 8}, {media::fourCC("hdv6"), 8},
    {media::fourCC("hdv7"), 8}, {media::fourCC("hdv8"), 8}, {media::fourCC("hdv9"), 8},
    {media::fourCC("hdva"), 8}, {media::fourCC("xdv1"), 8}, {media::fourCC("xdv2"), 8},
    {media::fourCC("xdv3"), 8}, {media::fourCC("xdv4"), 8}, {media::fourCC("xdv5"), 8},
    {media::fourCC("xdv6"), 8}, {media::fourCC("xdv7"), 8}, {media::fourCC("xdv8"), 8},
    {media::fourCC("xdv9"), 8}, {media::fourCC("xdva"), 8}, {media::fourCC("xdvb"), 8},
    {media::fourCC("xdvc"), 8}, {media::fourCC("xdvd"), 8}, {media::fourCC("xdve"), 8},
    {media::fourCC("xdvf"), 8}, {media::fourCC("xd5a"), 8}, {media::fourCC("xd5b"), 8},
    {media::fourCC("xd5c"), 8}, {media::fourCC("xd5d"), 8}, {media::fourCC("xd5e"), 8},
    {media::fourCC("xd5f"), 8}, {media::fourCC("xd51"), 8}, {media::fourCC("xd54"), 8},
    {media::fourCC("xd55"), 8}, {media::fourCC("xd59"), 8}, {media::fourCC("xdhd"), 8},
    {media::fourCC("mx3p"), 8}, {media::fourCC("mx4p"), 8}, {media::fourCC("mx5p"), 8},
    {media::fourCC("mx3n"), 8}, {media::fourCC("mx4n"), 8}, {media::fourCC("mx5n"), 8},
};

// The group of pictures header holds its time code near the start of a
// stream, after the sequence header; this much of the first sample is read.
constexpr std::size_t kVideoPrefix = 16 * 1024;

// Where a movie without an answer may keep a timecode: the group of
// pictures header of the first video track's first sample, when it is MPEG.
std::vector<Explanation::Hint> findHints(const media::Asset& asset) {
  media::TrackList tracks = asset.tracks();
  while (const std::optional<media::Track> track = tracks.next()) {
    if (track->mediaType != media::fourCC("vide")) continue;
    media::TrackReader reader(asset, *track, kMpegVideo);
    const std::optional<media::Sample> sample = reader.next();
    if (!sample) return {};
    std::vector<std::uint8_t> prefix(static_cast<std::size_t>(std::min<std::uint64_t>(sample->size, kVideoPrefix)));
    if (!asset.file().read(sample->offset, prefix)) return {};
    const std::optional<std::string> timecode = groupOfPicturesTimecode(prefix);
    if (!timecode) return {};
    return {{.source = "the MPEG video's first group of pictures header", .track = track->position + 1,
             .timecode = *timecode}};
  }
  return {};
}

// Where a description's data reference points, for a person.
std::string referenceText(const media::ByteReader& movie, const media::SampleDescriptions::DataReference& reference) {
  if (reference.type == media::fourCC("url ")) {
    media::Fields fields(movie, reference.box);
    std::string location;
    if (media::FullBoxHeader::read(fields)) {
      for (int i = 0; i < 256; ++i) {
        const std::optional<std::uint8_t> c = fields.u8();
        if (!c || *c == 0) break;
        location += *c >= 0x20 && *c < 0x7F ? static_cast<char>(*c) : '?';
      }
    }
    return "url " + (location.empty() ? std::string("(empty)") : location);
  }
  if (reference.type == media::fourCC("alis")) return "a QuickTime alias to another file";
  return "a '" + fourCCText(reference.type) + "' reference";
}

class Watcher final : public ScanObserver {
 public:
  Watcher(const media::Asset& asset, Explanation& explanation) : asset_(asset), out_(explanation) {}

  void track(const media::Track& track, const media::SampleDescriptions* descriptions) override {
    ids_.push_back(track.id);
    if (out_.tracks.size() >= Explanation::kListedTracks) {
      ++out_.unlistedTracks;
      if (descriptions != nullptr) ++out_.unlistedTimecodeTracks;
      return;
    }
    Explanation::Track facts{.number = track.position + 1,
                             .id = track.id,
                             .handler = fourCCText(track.mediaType),
                             .timecode = descriptions != nullptr};
    if (descriptions != nullptr) {
      std::uint32_t index = 0;
      for (const media::SampleDescriptions::Description& description : descriptions->all()) {
        if (++index > Explanation::kListedSamples) break;
        Explanation::Description listed{.index = index, .format = fourCCText(description.format)};
        if (timecodePayloadWidth(description.format) != 0) {
          listed.timecode = TimecodeDescription::read(asset_.movieReader(), description.box);
        }
        facts.descriptions.push_back(listed);
      }
    }
    out_.tracks.push_back(std::move(facts));
  }

  void passedOver(std::size_t position, const media::SampleDescriptions& descriptions,
                  const media::PassedOver& samples) override {
    list(position, {.format = samples.format != 0 ? fourCCText(samples.format) : "",
                    .descriptionIndex = samples.descriptionIndex,
                    .offset = samples.offset,
                    .size = samples.size,
                    .count = samples.count,
                    .why = reason(descriptions, samples)});
  }

  void tried(std::size_t position, const media::SampleDescriptions& descriptions, const media::Sample& sample,
             std::optional<StartFrame> frame) override {
    if (!frame) {
      list(position, {.format = fourCCText(sample.format),
                      .descriptionIndex = sample.descriptionIndex,
                      .offset = sample.offset,
                      .size = sample.size,
                      .count = 1,
                      .why = "a frame number of 2^32 or more, which 32 bits cannot hold"});
      return;
    }
    Explanation::Decoded decoded{.frame = *frame, .offset = sample.offset};
    if (const media::SampleDescriptions::Description* description = descriptions.find(sample.descriptionIndex)) {
      decoded.description = TimecodeDescription::read(asset_.movieReader(), description->box);
    }
    if (decoded.description) {
      decoded.reading = TimecodeReading::of(*frame, *decoded.description);
      decoded.warnings = decoded.reading.warnings;
    } else {
      decoded.warnings.push_back("the sample's description is too short to say its rate: no timecode to show");
    }
    // Tracks that read their sample tables meet theirs first, but a track
    // before them may still find one in a fragment: the first in the list wins.
    if (!out_.answer || position + 1 < out_.answer->track) {
      out_.answer = Explanation::Answer{.track = position + 1, .trackId = ids_[position], .sample = decoded};
    }
    if (position < out_.tracks.size()) out_.tracks[position].first = std::move(decoded);
  }

  void gaveUp() override { out_.gaveUp = true; }

 private:
  std::string reason(const media::SampleDescriptions& descriptions, const media::PassedOver& samples) const {
    using media::PassOverReason;
    switch (samples.reason) {
      case PassOverReason::NoDescription:
        return "no sample description " + std::to_string(samples.descriptionIndex);
      case PassOverReason::InAnotherFile: {
        const media::SampleDescriptions::Description* description = descriptions.find(samples.descriptionIndex);
        const media::SampleDescriptions::DataReference* reference =
            description ? descriptions.findDataReference(description->dataReferenceIndex) : nullptr;
        return "data in another file: " +
               (reference ? referenceText(asset_.movieReader(), *reference) : std::string("no such data reference"));
      }
      case PassOverReason::UnwantedFormat:
        return "not a timecode format";
      case PassOverReason::NoBytes:
        return "no bytes";
      case PassOverReason::TooShort:
        return "shorter than its " + std::to_string(timecodePayloadWidth(samples.format)) + "-byte payload";
      case PassOverReason::PastEndOfFile:
        return "past the end of the file (" + std::to_string(asset_.file().size()) + " bytes)";
    }
    return "";
  }

  void list(std::size_t position, Explanation::Samples samples) {
    // Every track is met in list order, so a listed track sits at its position.
    if (position >= out_.tracks.size()) return;
    Explanation::Track& track = out_.tracks[position];
    if (track.samples.size() < Explanation::kListedSamples) {
      track.samples.push_back(std::move(samples));
    } else {
      track.unlistedSamples += samples.count;
    }
  }

  const media::Asset& asset_;
  Explanation& out_;
  std::vector<std::uint32_t> ids_;  // of every track met, by position
};

}  // namespace

std::optional<std::string> Explanation::reason() const {
  if (answer || error) return std::nullopt;
  if (cutShort) {
    return "the file is cut short: the '" + cutShort->box + "' box at byte " + std::to_string(cutShort->offset) +
           " claims " + std::to_string(cutShort->claims) + " bytes, but the file ends at byte " +
           std::to_string(cutShort->fileEnds);
  }
  if (!container.movieOffset) return "no movie box: not a QuickTime or MP4 movie";
  if (gaveUp) {
    return std::to_string(kMaxUndecodableSamples) + " timecode samples did not decode, and the scan gave up";
  }
  const bool timecodeTracks = unlistedTimecodeTracks > 0 ||
                              std::any_of(tracks.begin(), tracks.end(), [](const Track& t) { return t.timecode; });
  if (!timecodeTracks) return "no timecode track";
  return "no timecode track holds a sample that decodes";
}

Explanation explain(const media::Asset& asset, std::string file) {
  Explanation explanation;
  explanation.file = std::move(file);
  explanation.size = asset.file().size();
  readContainer(asset, explanation);
  explanation.created = readCreationTime(asset);
  Watcher watcher(asset, explanation);
  scanTimecodeTracks(asset, &watcher, ScanScope::EveryTrack);
  if (explanation.gaveUp) {
    // The cap counted the samples of every track; the tool's scan reads
    // fewer of them and may still answer.
    explanation.listingGaveUp = true;
    Explanation answerOnly;
    Watcher answerWatcher(asset, answerOnly);
    scanTimecodeTracks(asset, &answerWatcher, ScanScope::Answer);
    explanation.answer = answerOnly.answer;
    explanation.gaveUp = answerOnly.gaveUp;
  }
  if (!explanation.answer) explanation.hints = findHints(asset);
  return explanation;
}

Explanation explainFile(const std::filesystem::path& path) {
  int why = 0;
  std::unique_ptr<media::ByteSource> source = media::openFileSource(path, &why);
  if (!source) {
    Explanation explanation;
    explanation.file = path.string();
    explanation.error = why != 0 ? std::error_code(why, std::generic_category()).message() : "not a regular file";
    return explanation;
  }
  const media::Asset asset(std::move(source));
  return explain(asset, path.string());
}

}  // namespace ostrel::explain
