#include "platform/ShowRequests.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace hw {

namespace {

// Connections taken in one call: more wait for the next wake-up, so a flood cannot hold the program.
constexpr int kRequestsPerCall = 8;

bool AddressFor(const std::string& path, sockaddr_un& address) {
  if (path.empty() || path.size() >= sizeof address.sun_path) return false;
  address = {};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

bool FromThisUser(int connection) {
  ucred credentials{};
  socklen_t size = sizeof credentials;
  return ::getsockopt(connection, SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0 && credentials.uid == ::getuid();
}

}  // namespace

ShowRequestListener::~ShowRequestListener() {
  if (fd_ < 0) return;
  ::close(fd_);
  ::unlink(path_.c_str());
}

bool ShowRequestListener::Listen(const std::string& path) {
  sockaddr_un address{};
  if (fd_ >= 0 || !AddressFor(path, address)) return false;
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return false;
  ::unlink(path.c_str());  // a socket left by a copy that crashed; the lock says none runs now
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 4) != 0) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  path_ = path;
  return true;
}

bool ShowRequestListener::TakeRequests() {
  bool asked = false;
  for (int taken = 0; fd_ >= 0 && taken < kRequestsPerCall; ++taken) {
    const int connection = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (connection < 0) break;
    asked = asked || FromThisUser(connection);
    ::close(connection);
  }
  return asked;
}

bool SendShowRequest(const std::string& path) {
  sockaddr_un address{};
  if (!AddressFor(path, address)) return false;
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return false;
  const bool sent = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return sent;
}

std::string ShowRequestPath(const std::string& lockPath) {
  const std::string suffix = ".lock";
  if (lockPath.size() <= suffix.size() || lockPath.compare(lockPath.size() - suffix.size(), suffix.size(), suffix) != 0)
    return {};
  return lockPath.substr(0, lockPath.size() - suffix.size()) + ".show";
}

}  // namespace hw
