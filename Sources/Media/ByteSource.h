#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>

namespace ostrel::media {

// Random-access bytes: a regular file read with positioned reads, or memory.
class ByteSource {
 public:
  virtual ~ByteSource() = default;

  // The length fixed when the source was opened; reads never go past it.
  virtual std::uint64_t size() const = 0;

  // Reads up to out.size() bytes at offset and returns how many arrived.
  // Fewer than asked means the end of the bytes or a failed read.
  virtual std::size_t readAt(std::uint64_t offset, std::span<std::uint8_t> out) const = 0;
};

// Opens a regular file for reading. Anything else (a directory, FIFO, socket
// or device) and any failure give no source; opening never blocks. Why, when
// asked: the errno value of the failure, EISDIR for a directory, or 0 for
// any other file that is not a regular file.
std::unique_ptr<ByteSource> openFileSource(const std::filesystem::path& path, int* why = nullptr);

// Bytes in memory that the caller keeps alive for as long as the source.
std::unique_ptr<ByteSource> memorySource(std::span<const std::uint8_t> bytes);

}  // namespace ostrel::media
