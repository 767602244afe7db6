#pragma once
#include <sys/types.h>

#include <ctime>
#include <optional>
#include <string>

namespace hw {

// What tells one state of a file from another without reading it: which file it is, its size and
// when its content or its inode last changed.
struct FileStamp {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};
  timespec changed{};
  bool operator==(const FileStamp& other) const;
  static std::optional<FileStamp> Of(const std::string& file);  // nothing when it cannot be read
};

}  // namespace hw
