#include "TrackReader.h"

namespace ostrel::media {

TrackReader::TrackReader(const Asset& asset, const Track& track, std::span<const WantedFormat> wanted, Parts parts)
    : asset_(&asset),
      track_(track),
      wanted_(wanted),
      tableBytes_(asset.movieReader()),
      runs_(asset.file(), wanted),
      withFragments_(parts == Parts::TableAndFragments) {
  const ByteReader& movie = asset.movieReader();
  // The first box of each kind counts.
  std::optional<Box> sampleTable, dataInformation;
  if (track.mediaInformation) {
    ChildBoxes children(movie, *track.mediaInformation);
    while (std::optional<Box> child = children.next()) {
      if (child->type == fourCC("stbl") && !sampleTable) sampleTable = child;
      if (child->type == fourCC("dinf") && !dataInformation) dataInformation = child;
    }
  }
  if (sampleTable) table_ = SampleTable(movie, *sampleTable);
  descriptions_ = SampleDescriptions(movie, table_.descriptions(),
                                     dataInformation ? findChild(movie, *dataInformation, fourCC("dref")) : std::nullopt);
}

std::optional<SampleStep> TrackReader::tableStep() {
  while (!tableDone_) {
    if (inRun_) {
      if (std::optional<SampleStep> next = runs_.step()) return next;
      inRun_ = false;
      if (runs_.failed()) {
        tableDone_ = true;
        withFragments_ = false;
        break;
      }
    }
    const std::optional<SampleRun> run = table_.next(asset_->movieReader());
    if (!run) {
      tableDone_ = true;
      break;
    }
    inRun_ = true;
    if (std::optional<PassedOver> whole = runs_.start(*run, descriptions_, tableBytes_)) {
      inRun_ = false;
      // Nothing but where the chunk lies decides the rest: chunks that share
      // its entry in the sample table are no better.
      if (whole->reason != PassOverReason::PastEndOfFile) {
        whole->count += table_.skipChunksLikeTheLast(asset_->movieReader());
      }
      return whole;
    }
  }
  return std::nullopt;
}

std::optional<SampleStep> TrackReader::step() {
  if (std::optional<SampleStep> next = tableStep()) return next;
  if (!withFragments_) return std::nullopt;
  if (!fragments_) {
    fragments_.emplace(*asset_, wanted_);
    fragments_->follow(track_, descriptions_);
  }
  if (std::optional<FragmentSamples::Step> next = fragments_->step()) return next->what;
  return std::nullopt;
}

std::optional<Sample> TrackReader::next() {
  while (std::optional<SampleStep> step = this->step()) {
    if (const Sample* sample = std::get_if<Sample>(&*step)) return *sample;
  }
  return std::nullopt;
}

}  // namespace ostrel::media
