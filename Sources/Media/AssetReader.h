#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>

#include "Asset.h"
#include "Fragments.h"
#include "FourCC.h"
#include "SampleDescriptions.h"
#include "SampleRun.h"
#include "SampleTable.h"

namespace ostrel::media {

// The format of a sample: the format of its sample description.
class FormatDescription {
 public:
  explicit FormatDescription(FourCC mediaSubType) : mediaSubType_(mediaSubType) {}
  FourCC mediaSubType() const { return mediaSubType_; }

 private:
  FourCC mediaSubType_;
};

// A sample's data as read from the file. Only a bounded prefix of a large
// sample is held, so memory never follows a size the file claims.
class DataBlock {
 public:
  static constexpr std::size_t kMaxHeldBytes = 16;

  struct Pointer {
    int status = -1;  // 0 when the pointer is usable
    const std::uint8_t* data = nullptr;
    std::size_t contiguousLength = 0;
    std::uint64_t totalLength = 0;
  };

  DataBlock(std::span<const std::uint8_t> prefix, std::uint64_t totalLength);

  // The bytes at offset onwards that are held contiguously.
  Pointer dataPointer(std::size_t offset) const;

 private:
  std::array<std::uint8_t, kMaxHeldBytes> bytes_{};
  std::size_t held_;
  std::uint64_t totalLength_;
};

class Sample {
 public:
  Sample(std::optional<DataBlock> data, std::optional<FormatDescription> format)
      : data_(data), format_(format) {}

  const DataBlock* dataBuffer() const { return data_ ? &*data_ : nullptr; }
  const FormatDescription* formatDescription() const { return format_ ? &*format_ : nullptr; }

 private:
  std::optional<DataBlock> data_;
  std::optional<FormatDescription> format_;
};

// Delivers one track's samples in stored form: those of its sample table,
// then those of every movie fragment, in file order. Samples that cannot have
// data in this file (no bytes, bytes past its end, a description that is
// missing or refers to another file) are passed over, whole runs at once
// where that is possible, so that counts a file claims never drive the work.
class TrackOutput {
 public:
  explicit TrackOutput(const Track& track) : track_(track) {}

  // The next sample; nothing once the track is exhausted or reading failed.
  std::optional<Sample> copyNextSample();

 private:
  friend class AssetReader;
  void start(const Asset& asset);
  bool nextRun();

  Track track_;
  const ByteReader* reader_ = nullptr;
  SampleDescriptions descriptions_;
  SampleTable sampleTable_;
  Fragments fragments_;

  SampleRun run_;
  std::uint64_t runPosition_ = 0;
  std::uint64_t nextDataOffset_ = 0;
  const SampleDescriptions::Description* runDescription_ = nullptr;
};

// Reads samples from an asset through the outputs attached to it.
class AssetReader {
 public:
  // Fails for an asset that cannot be read.
  static std::optional<AssetReader> create(const Asset& asset);

  // Attaches an output; the reader keeps it, and the reference stays valid
  // for the reader's lifetime.
  TrackOutput& addOutput(TrackOutput output);

  // Outputs deliver samples only once reading has started.
  bool startReading();

 private:
  explicit AssetReader(const Asset& asset) : asset_(&asset) {}

  const Asset* asset_;
  std::deque<TrackOutput> outputs_;
};

}  // namespace ostrel::media
