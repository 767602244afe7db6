#include "platform/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace hw {
namespace {

// Names tried for the socket guard when another user squats the first: "<name>", "<name>-1", ...
constexpr int kSocketNames = 4;

struct AbstractAddress {
  sockaddr_un address{};
  socklen_t size = 0;
};

AbstractAddress AddressFor(const std::string& name) {
  AbstractAddress result;
  result.address.sun_family = AF_UNIX;
  // A leading NUL puts the name in the abstract namespace: no file, gone with the process.
  const std::size_t length = std::min(name.size(), sizeof result.address.sun_path - 1);
  std::memcpy(result.address.sun_path + 1, name.data(), length);
  result.size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
  return result;
}

// Whether the socket bound to `name` belongs to a process of this user. Any user can bind any
// abstract name, so only the holder's credentials tell a copy of ours from a squatter. A holder whose
// queue is full (it never accepts; every earlier question waits there) cannot be asked: it counts as
// ours, so that two copies never run because of it.
bool HeldByThisUser(const std::string& name) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return false;
  const AbstractAddress target = AddressFor(name);
  ucred credentials{};
  socklen_t size = sizeof credentials;
  bool ours = false;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&target.address), target.size) == 0)
    ours = ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0 && credentials.uid == ::getuid();
  else
    ours = errno == EAGAIN;
  ::close(fd);
  return ours;
}

// A folder of this user's alone: made 0700 when missing, and used only when it is a real folder
// (no link) that this user owns and nobody else may enter.
bool PrivateFolder(const std::string& folder) {
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat status {};
  return ::lstat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == ::getuid() &&
         (status.st_mode & 077) == 0;
}

}  // namespace

SingleInstanceLock::~SingleInstanceLock() { Release(); }

bool SingleInstanceLock::Acquire(const std::string& lockPath, const std::string& socketName) {
  Release();
  const int fd = lockPath.empty() ? -1 : ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    std::fprintf(stderr, "Hostwarden: cannot use the lock file %s (%s); guarding with a socket instead\n",
                 lockPath.empty() ? "(none)" : lockPath.c_str(),
                 lockPath.empty() ? "no private folder for it" : std::strerror(errno));
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
  int error = 0;
  for (int attempt = 0; attempt < kSocketNames; ++attempt) {
    const std::string name = attempt == 0 ? socketName : socketName + "-" + std::to_string(attempt);
    const AbstractAddress address = AddressFor(name);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    // Listening, so that the next copy can ask who holds the name.
    if (fd >= 0 && ::bind(fd, reinterpret_cast<const sockaddr*>(&address.address), address.size) == 0 &&
        ::listen(fd, 8) == 0) {
      fd_ = fd;
      return true;
    }
    error = errno;
    if (fd >= 0) ::close(fd);
    if (error != EADDRINUSE) break;
    if (HeldByThisUser(name)) return false;
  }
  std::fprintf(stderr, "Hostwarden: no single-instance guard can be had (%s); running unguarded\n",
               error == EADDRINUSE ? "every name is held by another user" : std::strerror(error));
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
  // The shared temporary folder is everyone's: the lock goes into a folder of this user's own there,
  // so no other user can hold it or put something in its place.
  const char* temporary = std::getenv("TMPDIR");
  const std::string base = temporary && *temporary ? temporary : "/tmp";
  const std::string folder = base + "/" + name + "-" + std::to_string(::getuid());
  return PrivateFolder(folder) ? folder + "/" + name + ".lock" : std::string();
}

std::string DefaultGuardSocketName(const std::string& name) { return name + "-" + std::to_string(::getuid()); }

}  // namespace hw
