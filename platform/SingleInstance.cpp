#include "platform/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace hw {

SingleInstanceLock::~SingleInstanceLock() { Release(); }

bool SingleInstanceLock::Acquire(const std::string& lockPath, const std::string& socketName) {
  Release();
  const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    std::fprintf(stderr, "Hostwarden: cannot use the lock file %s (%s); guarding with a socket instead\n",
                 lockPath.c_str(), std::strerror(errno));
    return AcquireSocket(socketName);
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

bool SingleInstanceLock::AcquireSocket(const std::string& socketName) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  // A leading NUL puts the name in the abstract namespace: no file, gone with the process.
  const std::size_t length = std::min(socketName.size(), sizeof address.sun_path - 1);
  std::memcpy(address.sun_path + 1, socketName.data(), length);
  const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd >= 0 && ::bind(fd, reinterpret_cast<const sockaddr*>(&address), size) == 0) {
    fd_ = fd;
    return true;
  }
  const int error = errno;
  if (fd >= 0) ::close(fd);
  if (error == EADDRINUSE) return false;
  std::fprintf(stderr, "Hostwarden: no single-instance guard can be had (%s); running unguarded\n",
               std::strerror(error));
  return true;
}

void SingleInstanceLock::Release() {
  if (fd_ < 0) return;
  ::close(fd_);  // drops the file lock or frees the socket's name
  fd_ = -1;
}

std::string DefaultLockPath(const std::string& name) {
  const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
  if (runtimeDir && *runtimeDir && ::access(runtimeDir, W_OK) == 0)
    return std::string(runtimeDir) + "/" + name + ".lock";
  return "/tmp/" + name + "-" + std::to_string(::getuid()) + ".lock";
}

std::string DefaultGuardSocketName(const std::string& name) { return name + "-" + std::to_string(::getuid()); }

}  // namespace hw
