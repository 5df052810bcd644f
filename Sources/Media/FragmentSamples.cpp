#include "FragmentSamples.h"

#include <algorithm>

namespace ostrel::media {

FragmentSamples::FragmentSamples(const Asset& asset, std::span<const WantedFormat> wanted,
                                 PassedOverSteps passedOver)
    : asset_(&asset), runs_(asset.file(), wanted), tellPassedOver_(passedOver == PassedOverSteps::Told) {}

void FragmentSamples::follow(const Track& track, SampleDescriptions descriptions) {
  if (!looked_) {
    looked_ = true;
    if (asset_->movie()) firstFragment_ = MovieFragments::findFirst(asset_->file(), asset_->movieEnd());
  }
  if (!firstFragment_ || track.id == 0) return;
  followed_.push_back({.trackId = track.id, .position = track.position, .descriptions = std::move(descriptions)});
  ++following_;
}

void FragmentSamples::stopFollowing(std::size_t position) {
  for (Followed& track : followed_) {
    if (track.position != position || !track.following) continue;
    track.following = false;
    --following_;
  }
}

void FragmentSamples::stopFollowingFrom(std::size_t position) {
  for (Followed& track : followed_) {
    if (track.position < position || !track.following) continue;
    track.following = false;
    --following_;
  }
}

void FragmentSamples::begin() {
  // Each ID goes to the first track that has it, whatever its media type.
  std::vector<std::pair<std::uint32_t, std::size_t>> firstOfId;
  TrackList tracks = asset_->tracks();
  while (const std::optional<Track> track = tracks.next()) firstOfId.emplace_back(track->id, track->position);
  std::stable_sort(firstOfId.begin(), firstOfId.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  firstOfId.erase(std::unique(firstOfId.begin(), firstOfId.end(),
                              [](const auto& a, const auto& b) { return a.first == b.first; }),
                  firstOfId.end());
  for (Followed& track : followed_) {
    const auto first = std::lower_bound(firstOfId.begin(), firstOfId.end(), std::pair(track.trackId, std::size_t{0}));
    const bool owner = first != firstOfId.end() && first->first == track.trackId && first->second == track.position;
    if (owner || !track.following) continue;
    track.following = false;
    --following_;
  }
  std::erase_if(followed_, [](const Followed& track) { return !track.following; });
  std::sort(followed_.begin(), followed_.end(), [](const Followed& a, const Followed& b) { return a.trackId < b.trackId; });
  walk_.emplace(asset_->file(), *firstFragment_, FragmentDefaultsTable(asset_->movieReader(), *asset_->movie()));
}

FragmentSamples::Followed* FragmentSamples::find(std::uint32_t trackId) {
  // Most track fragments are of the track before them, or of the next track.
  if (lastFound_ != nullptr) {
    if (lastFound_->trackId == trackId) return lastFound_;
    Followed* after = lastFound_ + 1;
    if (after != followed_.data() + followed_.size() && after->trackId == trackId) return lastFound_ = after;
  }
  const auto found = std::lower_bound(followed_.begin(), followed_.end(), trackId,
                                      [](const Followed& track, std::uint32_t id) { return track.trackId < id; });
  if (found == followed_.end() || found->trackId != trackId) return nullptr;
  lastFound_ = &*found;
  return lastFound_;
}

std::optional<FragmentSamples::Step> FragmentSamples::step() {
  while (following_ > 0) {
    if (!walk_) begin();
    if (current_ != nullptr && current_->following) {
      if (inRun_) {
        if (std::optional<SampleStep> next = runs_.step()) return Step{current_->position, &current_->descriptions, *next};
        inRun_ = false;
        if (runs_.failed()) {
          stopFollowing(current_->position);
          continue;
        }
      }
      if (const std::optional<SampleRun> run = fragmentRuns_->next()) {
        if (run->count == 0) continue;
        inRun_ = true;
        if (std::optional<PassedOver> whole = runs_.start(*run, current_->descriptions, walk_->bytes())) {
          inRun_ = false;
          return Step{current_->position, &current_->descriptions, *whole};
        }
        continue;
      }
      walk_->dataOfLastEndsAt(fragmentRuns_->dataEnd());
    }
    current_ = nullptr;
    const TrackFragment* fragment = walk_->next();
    if (fragment == nullptr) break;
    current_ = find(fragment->trackId());
    if (current_ == nullptr || !current_->following) continue;
    // Every run of a track fragment has its description.
    if (!tellPassedOver_) {
      const std::uint32_t descriptionIndex = walk_->descriptionIndexOf(*fragment);
      if (descriptionIndex == current_->rejectedDescription ||
          runs_.rejects(current_->descriptions.find(descriptionIndex))) {
        current_->rejectedDescription = descriptionIndex;
        current_ = nullptr;
        continue;
      }
    }
    fragmentRuns_.emplace(walk_->bytes(), *fragment, walk_->resolve(*fragment));
    inRun_ = false;
  }
  finish();
  return std::nullopt;
}

void FragmentSamples::finish() {
  for (Followed& track : followed_) track.following = false;
  following_ = 0;
}

}  // namespace ostrel::media
