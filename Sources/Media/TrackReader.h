#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <variant>

#include "Asset.h"
#include "Fragments.h"
#include "FourCC.h"
#include "SampleDescriptions.h"
#include "SampleRun.h"
#include "SampleTable.h"
#include "Track.h"

namespace ostrel::media {

// A format a reader delivers, and the fewest bytes a sample of it must hold.
struct WantedFormat {
  FourCC format = 0;
  std::uint32_t minimumSize = 1;
};

// One sample in stored form: its format, where its data lies, and a bounded
// prefix of that data, so that memory never follows a size the file claims.
struct Sample {
  static constexpr std::size_t kHeldBytes = 16;

  FourCC format = 0;
  std::uint32_t descriptionIndex = 0;  // 1-based, as stored
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
  std::array<std::uint8_t, kHeldBytes> prefix{};

  std::span<const std::uint8_t> bytes() const {
    return {prefix.data(), static_cast<std::size_t>(std::min<std::uint64_t>(size, kHeldBytes))};
  }
};

// Why a reader passed samples over without delivering them.
enum class PassOverReason {
  NoDescription,   // the run names a description the track does not have
  InAnotherFile,   // its description's data reference points to another file
  UnwantedFormat,  // its format is not one the reader was asked for
  NoBytes,         // a sample of no bytes
  TooShort,        // fewer bytes than the format asks for
  PastEndOfFile,   // the data is not wholly in the file
};

// Samples passed over together, all for the same reason.
struct PassedOver {
  PassOverReason reason = PassOverReason::NoBytes;
  std::uint32_t descriptionIndex = 0;  // as stored
  FourCC format = 0;                   // 0 without a description
  std::uint64_t offset = 0;            // where the first of them starts
  std::optional<std::uint64_t> size;   // their size, when it is one for all
  std::uint64_t count = 0;             // how many, as the file counts them
};

// Delivers one track's samples in stored form, one at a time: those of its
// sample table, then those of its movie fragments, in file order.
//
// Only samples that can be what the caller asked for are delivered: of a
// wanted format (any format when none is named), at least as large as that
// format asks, wholly in this file. Runs that cannot hold such a sample (a
// description that is missing, of another format or kept in another file; a
// constant size below the minimum; data past the end of the file) are passed
// over whole, so counts a file claims never drive the work.
class TrackReader {
 public:
  // `wanted` must outlive the reader.
  TrackReader(const Asset& asset, const Track& track, std::span<const WantedFormat> wanted = {});

  // The next sample; nothing once the track is exhausted or reading failed.
  std::optional<Sample> next();

  // The same, step by step: the next sample, or the next samples passed over.
  std::optional<std::variant<Sample, PassedOver>> step();

  const SampleDescriptions& descriptions() const { return descriptions_; }

 private:
  // Makes the next run current; false when there is none. A run that is
  // passed over whole leaves its record in passedOver_.
  bool nextRun();
  PassedOver passOver(PassOverReason reason, std::uint64_t offset, std::optional<std::uint64_t> size,
                      std::uint64_t count) const;
  std::optional<SampleRun> takeRun();
  // The fewest bytes a sample of the format must hold; nothing when unwanted.
  std::optional<std::uint32_t> minimumSizeOf(FourCC format) const;

  const Asset* asset_;
  std::span<const WantedFormat> wanted_;
  SampleDescriptions descriptions_;
  SampleTable table_;
  Track track_;
  std::optional<std::size_t> lastFragment_;  // of the asset's fragments
  bool fragmentsDone_ = false;
  std::optional<FragmentRuns> fragmentRuns_;

  SampleRun run_;
  const ByteReader* runSizes_ = nullptr;  // where the run's size table lies
  bool runInTable_ = false;               // from the sample table, not a fragment
  FourCC runFormat_ = 0;
  std::uint32_t runMinimumSize_ = 1;
  std::uint64_t runPosition_ = 0;
  std::uint64_t nextDataOffset_ = 0;
  std::optional<PassedOver> passedOver_;
  bool done_ = false;
};

}  // namespace ostrel::media
