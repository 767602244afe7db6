#include "update/BuildFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "update/SignedBuild.h"
#include "update/TrustedKey.h"

namespace hw {
namespace {

// At most one byte more than the largest signed build, so a larger file is seen as such.
constexpr std::size_t kReadLimit = kBuildHeaderBytes + kMaxPayloadBytes + 1;

std::optional<std::string> ReadAll(int fd, std::string& problem) {
  std::string bytes;
  char buffer[64 * 1024];
  while (bytes.size() < kReadLimit) {
    const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, kReadLimit - bytes.size()));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      problem = std::strerror(errno);
      return std::nullopt;
    }
    if (n == 0) break;
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
  return bytes;
}

}  // namespace

std::optional<std::string> ReadBuildFile(const std::string& path, std::string& problem) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    problem = errno == ELOOP ? "it is a symbolic link" : std::strerror(errno);
    return std::nullopt;
  }
  struct stat status {};
  std::optional<std::string> bytes;
  if (::fstat(fd, &status) != 0) {
    problem = std::strerror(errno);
  } else if (!S_ISREG(status.st_mode)) {
    problem = "it is not a regular file";
  } else {
    bytes = ReadAll(fd, problem);
  }
  ::close(fd);
  return bytes;
}

std::optional<std::string> CheckBuildFile(const std::string& path, const VersionWords& installed,
                                          std::string& refusal) {
  const std::optional<std::string> file = ReadBuildFile(path, refusal);
  if (!file) return std::nullopt;
  return VerifyBuild(*file, TrustedUpdateKey(), installed, refusal);
}

void RemoveBuildFile(const std::string& path) {
  if (::unlink(path.c_str()) != 0 && (errno == EISDIR || errno == EPERM)) ::rmdir(path.c_str());
}

}  // namespace hw
