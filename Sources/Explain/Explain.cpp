#include "Explain.h"

#include <algorithm>

#include "App/Scan.h"
#include "App/TimecodeSample.h"
#include "Media/Fields.h"

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

Explanation::Container readContainer(const media::Asset& asset) {
  Explanation::Container container;
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
      break;
    }
  }
  container.kind = container.brand.empty() || container.brand == "qt  " ? "QuickTime" : "MP4";
  container.compressed = asset.movieIsCompressed();
  media::TrackList tracks = asset.tracks();
  while (tracks.next()) ++container.tracks;
  return container;
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
    Explanation::Answer answer{.frame = *frame, .track = position + 1, .offset = sample.offset};
    if (const media::SampleDescriptions::Description* description = descriptions.find(sample.descriptionIndex)) {
      answer.description = TimecodeDescription::read(asset_.movieReader(), description->box);
    }
    if (answer.description) {
      const TimecodeDescription& d = *answer.description;
      answer.timecode = timecodeString(*frame, d.framesPerSecond, d.dropFrame(), d.wrapsAt24Hours());
      if (!answer.timecode) {
        answer.warnings.push_back(d.framesPerSecond == 0
                                      ? "the description counts 0 frames a second: no timecode to show"
                                      : "drop-frame timecode needs a counter of 30 or 60 frames a second");
      }
      if (std::optional<std::string> mismatch = d.counterMismatch()) answer.warnings.push_back(*mismatch);
    } else {
      answer.warnings.push_back("the sample's description is too short to say its rate: no timecode to show");
    }
    if (!out_.answer || answer.track < out_.answer->track) out_.answer = answer;
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
};

}  // namespace

Explanation explain(const media::Asset& asset, std::string file) {
  Explanation explanation;
  explanation.file = std::move(file);
  explanation.size = asset.file().size();
  explanation.container = readContainer(asset);
  Watcher watcher(asset, explanation);
  scanTimecodeTracks(asset, &watcher);
  return explanation;
}

}  // namespace ostrel::explain
