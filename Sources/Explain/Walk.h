#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ostrel::explain {

// The files to explain, in order: the paths as given, and the files under
// each folder among them, entries sorted by name (bytewise), depth first.
//
// In a folder, only regular files are taken, and only movies by their name
// unless every file is asked for; symbolic links are not followed there, as
// find does by default, while a path given is. Memory follows the folder
// listings along one path down the tree, never the files in all.
class Walk {
 public:
  struct Item {
    std::string path;
    int error = 0;  // errno of a folder that cannot be listed, or of a missing path
  };

  Walk(std::vector<std::string> paths, bool everyFile);

  std::optional<Item> next();

  // Whether a file name ends in a movie extension: .mov .mp4 .m4v .3gp .3g2, in any case.
  static bool isMovieName(std::string_view name);

 private:
  struct Entry {
    std::string name;
    bool folder = false;
  };
  struct Folder {
    std::string path;  // with its trailing slash
    std::vector<Entry> entries;
    std::size_t next = 0;
    std::pair<std::uint64_t, std::uint64_t> identity;  // device and inode
  };

  // Lists a folder onto the stack; the errno when it cannot be listed.
  int enter(const std::string& path, std::pair<std::uint64_t, std::uint64_t> identity);

  std::vector<std::string> paths_;
  std::size_t nextPath_ = 0;
  bool everyFile_;
  std::vector<Folder> folders_;
};

}  // namespace ostrel::explain
