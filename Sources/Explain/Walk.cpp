#include "Walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <memory>

namespace ostrel::explain {

namespace {

// A folder stream, closed on every path.
struct FolderCloser {
  void operator()(DIR* folder) const { ::closedir(folder); }
};
using FolderStream = std::unique_ptr<DIR, FolderCloser>;

std::pair<std::uint64_t, std::uint64_t> identityOf(const struct stat& status) {
  return {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
}

}  // namespace

Walk::Walk(std::vector<std::string> paths, bool everyFile) : paths_(std::move(paths)), everyFile_(everyFile) {}

bool Walk::isMovieName(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || name.size() - dot != 4) return false;
  std::string extension(name.substr(dot + 1));
  for (char& c : extension) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return extension == "mov" || extension == "mp4" || extension == "m4v" || extension == "3gp" || extension == "3g2";
}

int Walk::enter(const std::string& path, std::pair<std::uint64_t, std::uint64_t> identity) {
  // A folder met again below itself, through a bind mount, is not walked twice.
  for (const Folder& folder : folders_) {
    if (folder.identity == identity) return ELOOP;
  }
  const FolderStream stream(::opendir(path.c_str()));
  if (!stream) return errno;
  Folder folder{.path = path.ends_with('/') ? path : path + "/", .identity = identity};
  const int descriptor = ::dirfd(stream.get());
  errno = 0;
  while (const dirent* entry = ::readdir(stream.get())) {
    const std::string_view name(entry->d_name);
    if (name == "." || name == "..") continue;
    unsigned char type = entry->d_type;
    if (type == DT_UNKNOWN) {
      struct stat status {};
      if (::fstatat(descriptor, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) continue;
      type = S_ISDIR(status.st_mode) ? DT_DIR : S_ISREG(status.st_mode) ? DT_REG : DT_LNK;
    }
    // Links, FIFOs, sockets and devices are passed over, and so are files
    // that are not movies by name.
    if (type == DT_DIR || (type == DT_REG && (everyFile_ || isMovieName(name)))) {
      folder.entries.push_back({std::string(name), type == DT_DIR});
    }
  }
  if (errno != 0) return errno;
  std::sort(folder.entries.begin(), folder.entries.end(),
            [](const Entry& a, const Entry& b) { return a.name < b.name; });
  folders_.push_back(std::move(folder));
  return 0;
}

std::optional<Walk::Item> Walk::next() {
  for (;;) {
    if (!folders_.empty()) {
      Folder& folder = folders_.back();
      if (folder.next == folder.entries.size()) {
        folders_.pop_back();
        continue;
      }
      const Entry& entry = folder.entries[folder.next++];
      std::string path = folder.path + entry.name;
      if (!entry.folder) return Item{std::move(path)};
      struct stat status {};
      if (::lstat(path.c_str(), &status) != 0) return Item{std::move(path), errno};
      if (!S_ISDIR(status.st_mode)) continue;  // replaced since it was listed
      if (const int error = enter(path, identityOf(status)); error != 0) return Item{std::move(path), error};
      continue;
    }
    if (nextPath_ == paths_.size()) return std::nullopt;
    std::string path = std::move(paths_[nextPath_++]);
    struct stat status {};
    // A path given is followed wherever it leads; any error is the reader's to tell.
    if (::stat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) return Item{std::move(path)};
    if (const int error = enter(path, identityOf(status)); error != 0) return Item{std::move(path), error};
  }
}

}  // namespace ostrel::explain
