#include "settings/SettingsLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "settings/SettingsStore.h"

namespace hw {

SettingsLock::~SettingsLock() {
  if (fd_ >= 0) ::close(fd_);
}

SettingsLock::State SettingsLock::Acquire() {
  if (fd_ >= 0) return State::Held;
  if (SettingsFile().empty()) return State::Unguarded;
  // The folder, not a lock file: nothing is created, and the package's folder is the settings'
  // own. A read-only descriptor is enough for flock.
  const int fd = ::open(SettingsFolder().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return State::Unguarded;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    ::close(fd);
    return error == EWOULDBLOCK ? State::Taken : State::Unguarded;
  }
  fd_ = fd;
  return State::Held;
}

std::string SettingsFolder() {
  const std::string file = SettingsFile();
  const auto slash = file.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : file.substr(0, slash);
}

}  // namespace hw
