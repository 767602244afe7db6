#include "platform/FileStamp.h"

#include <sys/stat.h>

#include <ctime>

namespace hw {
namespace {

bool SameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

// At least a second before `now`: later changes of the file cannot share the stamp's clock tick.
bool SettledBy(const timespec& stamped, const timespec& now) {
  return stamped.tv_sec + 1 < now.tv_sec || (stamped.tv_sec + 1 == now.tv_sec && stamped.tv_nsec <= now.tv_nsec);
}

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

bool FileWatch::Unchanged(const std::string& file) {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  const std::optional<FileStamp> stamp = FileStamp::Of(file);
  const bool unchanged = settled_ && stamp && file == file_ && stamp == stamp_;
  file_ = file;
  stamp_ = stamp;
  settled_ = stamp && SettledBy(stamp->modified, now) && SettledBy(stamp->changed, now);
  return unchanged;
}

}  // namespace hw
