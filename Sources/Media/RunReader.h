#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <variant>

#include "ByteReader.h"
#include "ByteView.h"
#include "FourCC.h"
#include "SampleDescriptions.h"
#include "SampleRun.h"

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

using SampleStep = std::variant<Sample, PassedOver>;

// Delivers the samples of one run at a time, for one track: only those that
// can be what the caller asked for, of a wanted format (any format when none
// is named), at least as large as that format asks, wholly in the file. A
// run that cannot hold such a sample (a description that is missing, of
// another format or kept in another file; a constant size below the minimum;
// data past the end of the file) is passed over whole, so counts a file
// claims never drive the work.
class RunReader {
 public:
  // `wanted` must outlive the reader.
  RunReader(const ByteReader& file, std::span<const WantedFormat> wanted) : file_(&file), wanted_(wanted) {}

  // Makes `run` current, its sizes read from `sizeBytes`, which must outlive
  // it. A run passed over whole gives its record here, and nothing to step().
  std::optional<PassedOver> start(const SampleRun& run, const SampleDescriptions& descriptions,
                                  const ByteView& sizeBytes);

  // The run's next sample, or samples passed over; nothing once the run is
  // done. A file cut short since it was opened fails the reader for good.
  std::optional<SampleStep> step();

  bool failed() const { return failed_; }

  // Why no sample of the description can be delivered, whatever its size and
  // place; nothing when some may.
  std::optional<PassOverReason> rejects(const SampleDescriptions::Description* description) const;

 private:
  PassedOver passOver(PassOverReason reason, std::uint64_t offset, std::optional<std::uint64_t> size,
                      std::uint64_t count) const;
  // The fewest bytes a sample of the format must hold; nothing when unwanted.
  std::optional<std::uint32_t> minimumSizeOf(FourCC format) const;

  const ByteReader* file_;
  std::span<const WantedFormat> wanted_;
  SampleRun run_;
  const ByteView* sizeBytes_ = nullptr;
  FourCC format_ = 0;
  std::uint32_t minimumSize_ = 1;
  std::uint64_t position_ = 0;
  std::uint64_t nextDataOffset_ = 0;
  bool failed_ = false;
};

}  // namespace ostrel::media
