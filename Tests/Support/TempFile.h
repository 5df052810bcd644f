#pragma once

// Files and folders in the system's temporary directory, removed on scope exit.

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "BoxWriter.h"

namespace ostrel::testing {

class TempDirectory {
 public:
  TempDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "ostrel-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  TempDirectory(const TempDirectory&) = delete;
  TempDirectory& operator=(const TempDirectory&) = delete;
  ~TempDirectory() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

class TempFile {
 public:
  explicit TempFile(const Bytes& contents = {}) : path_(dir_.path() / "movie.mov") { write(0, contents); }

  // Writes at an offset; the gap before it stays a hole that costs no disk.
  bool write(std::uint64_t offset, const Bytes& bytes) {
    const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const bool ok = ::pwrite(fd, bytes.data(), bytes.size(), off_t(offset)) == ssize_t(bytes.size());
    ::close(fd);
    return ok;
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  TempDirectory dir_;
  std::filesystem::path path_;
};

}  // namespace ostrel::testing
