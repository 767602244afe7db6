#include "update/ReplaceFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "common/AppError.h"
#include "platform/FileErrors.h"

namespace hw {
namespace {

constexpr mode_t kMostAllowed = 0755;

[[noreturn]] void Fail(int error, const std::string& leftover) {
  ::unlink(leftover.c_str());
  throw FileError(FileErrorText(error));
}

void WriteAll(int fd, std::string_view bytes, const std::string& path) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = n < 0 ? errno : ENOSPC;
      ::close(fd);
      Fail(error, path);
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

void SyncFolder(const std::string& path) {
  const std::string folder = std::filesystem::path(path).parent_path().string();
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

void ReplaceFileAtomically(const std::string& path, std::string_view bytes) {
  struct stat old {};
  // Never set-user-ID, set-group-ID or writable by others, whatever the old file was.
  const mode_t mode = ::stat(path.c_str(), &old) == 0 ? (old.st_mode & kMostAllowed) : kMostAllowed;
  // A name of its own, made here and now: nothing planted beside the file can be followed.
  std::string fresh = path + ".XXXXXX";
  const int fd = ::mkostemp(fresh.data(), O_CLOEXEC);
  if (fd < 0) throw FileError(FileErrorText(errno));
  WriteAll(fd, bytes, fresh);
  if (::fchmod(fd, mode) != 0 || ::fsync(fd) != 0) {
    const int error = errno;
    ::close(fd);
    Fail(error, fresh);
  }
  if (::close(fd) != 0) Fail(errno, fresh);
  if (::rename(fresh.c_str(), path.c_str()) != 0) Fail(errno, fresh);
  SyncFolder(path);
}

}  // namespace hw
