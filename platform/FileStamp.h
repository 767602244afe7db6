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

// Whether a file is still as it was at the last look, told by its stamp alone. The file system
// stamps changes with a coarse clock, so a file changed less than a second before a look is never
// taken as unchanged at the next one (it could change again within the same tick of that clock).
class FileWatch {
 public:
  // Looks at the file now (call it before reading the file); true when it is the same file, with
  // the same stamp as at the last look, and was settled then.
  bool Unchanged(const std::string& file);

 private:
  std::string file_;
  std::optional<FileStamp> stamp_;
  bool settled_ = false;
};

}  // namespace hw
