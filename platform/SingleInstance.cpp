#include "platform/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>

namespace hw {

SingleInstanceLock::~SingleInstanceLock() { Release(); }

bool SingleInstanceLock::Acquire(const std::string& lockPath) {
  Release();
  const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  // A lock file we cannot create must not stop the program: run unguarded rather than not at all.
  if (fd < 0) return true;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

void SingleInstanceLock::Release() {
  if (fd_ < 0) return;
  ::flock(fd_, LOCK_UN);
  ::close(fd_);
  fd_ = -1;
}

std::string DefaultLockPath(const std::string& name) {
  const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
  if (runtimeDir && *runtimeDir && ::access(runtimeDir, W_OK) == 0)
    return std::string(runtimeDir) + "/" + name + ".lock";
  return "/tmp/" + name + "-" + std::to_string(::getuid()) + ".lock";
}

}  // namespace hw
