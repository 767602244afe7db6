#include "platform/FileStamp.h"

#include <sys/stat.h>

namespace hw {
namespace {

bool SameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

}  // namespace

bool FileStamp::operator==(const FileStamp& other) const {
  return device == other.device && inode == other.inode && size == other.size &&
         SameTime(modified, other.modified) && SameTime(changed, other.changed);
}

std::optional<FileStamp> FileStamp::Of(const std::string& file) {
  struct stat status {};
  if (::stat(file.c_str(), &status) != 0) return std::nullopt;
  return FileStamp{status.st_dev, status.st_ino, status.st_size, status.st_mtim, status.st_ctim};
}

}  // namespace hw
