#include "ByteSource.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

namespace ostrel::media {
namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  FileDescriptor& operator=(FileDescriptor&&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

class FileSource final : public ByteSource {
 public:
  FileSource(FileDescriptor fd, std::uint64_t size) : fd_(std::move(fd)), size_(size) {}

  std::uint64_t size() const override { return size_; }

  std::size_t readAt(std::uint64_t offset, std::span<std::uint8_t> out) const override {
    if (offset >= size_) return 0;
    const std::size_t wanted = std::min<std::uint64_t>(out.size(), size_ - offset);
    std::size_t done = 0;
    while (done < wanted) {
      const ssize_t got = ::pread(fd_.get(), out.data() + done, wanted - done,
                                  static_cast<off_t>(offset + done));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;  // cut short since it was opened, or unreadable
      done += static_cast<std::size_t>(got);
    }
    return done;
  }

 private:
  FileDescriptor fd_;
  std::uint64_t size_;
};

class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  std::uint64_t size() const override { return bytes_.size(); }

  std::size_t readAt(std::uint64_t offset, std::span<std::uint8_t> out) const override {
    if (offset >= bytes_.size()) return 0;
    const std::size_t count = std::min<std::uint64_t>(out.size(), bytes_.size() - offset);
    std::memcpy(out.data(), bytes_.data() + offset, count);
    return count;
  }

 private:
  std::span<const std::uint8_t> bytes_;
};

}  // namespace

std::unique_ptr<ByteSource> openFileSource(const std::filesystem::path& path, int* why) {
  int ignored = 0;
  int& error = why != nullptr ? *why : ignored;
  const auto notRegular = [&error](const struct stat& status) {
    error = S_ISDIR(status.st_mode) ? EISDIR : 0;
    return nullptr;
  };
  // Opening a FIFO would release a writer blocked in its own open, so the
  // type is checked before the open; and again on the descriptor, for a file
  // replaced in between. Non-blocking, so that such a file cannot stall the open.
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) {
    error = errno;
    return nullptr;
  }
  if (!S_ISREG(status.st_mode)) return notRegular(status);
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (fd.get() < 0) {
    error = errno;
    return nullptr;
  }
  if (::fstat(fd.get(), &status) != 0) {
    error = errno;
    return nullptr;
  }
  if (!S_ISREG(status.st_mode) || status.st_size < 0) return notRegular(status);
  return std::make_unique<FileSource>(std::move(fd), static_cast<std::uint64_t>(status.st_size));
}

std::unique_ptr<ByteSource> memorySource(std::span<const std::uint8_t> bytes) {
  return std::make_unique<MemorySource>(bytes);
}

}  // namespace ostrel::media
