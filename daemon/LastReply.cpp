#include "daemon/LastReply.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>

#include "settings/SettingsLock.h"

namespace hw {
namespace {

constexpr std::size_t kMostBytes = 4096;  // a stamp and one log line

bool WriteWhole(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

std::string LastReplyFile() { return SettingsFolder() + "/daemon-last-reply"; }

void SaveLastReply(const LastReply& reply) {
  const std::string path = LastReplyFile();
  std::string temporary = path + ".XXXXXX";
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  bool saved = fd >= 0 && ::fchmod(fd, 0640) == 0 && WriteWhole(fd, reply.when + "\n" + reply.line + "\n");
  if (fd >= 0) saved = ::close(fd) == 0 && saved;
  if (saved && ::rename(temporary.c_str(), path.c_str()) == 0) return;
  const int error = errno;
  if (fd >= 0) ::unlink(temporary.c_str());
  std::fprintf(stderr, "hostwarden-daemon: cannot save %s: %s\n", path.c_str(), std::strerror(error));
}

std::optional<LastReply> ReadLastReply() {
  const int fd = ::open(LastReplyFile().c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat status {};
  std::string text(kMostBytes + 1, '\0');
  ssize_t length = -1;
  if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) length = ::read(fd, text.data(), text.size());
  ::close(fd);
  if (length <= 0 || static_cast<std::size_t>(length) > kMostBytes) return std::nullopt;
  text.resize(static_cast<std::size_t>(length));
  const auto first = text.find('\n');
  if (first == std::string::npos || !text.ends_with('\n')) return std::nullopt;
  return LastReply{text.substr(0, first), text.substr(first + 1, text.size() - first - 2)};
}

}  // namespace hw
