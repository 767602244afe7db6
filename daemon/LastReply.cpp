#include "daemon/LastReply.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "settings/SettingsLock.h"

namespace hw {
namespace {

// One record of a fixed size, written over the last in place: replacing the file at every check
// (a new file renamed over the old) costs the file system more than the whole check does. A record
// is written with one call, so a reader finds the old one or the new one.
constexpr std::size_t kRecordBytes = 1024;
// The first line of every record: a file without it is not one the daemon wrote.
constexpr const char* kRecordHead = "hostwarden-daemon last reply\n";

std::string RecordOf(const LastReply& reply) {
  std::string record = kRecordHead + reply.when + "\n" + reply.line;
  record.resize(std::min(record.size(), kRecordBytes - 1));  // a line longer than that is cut
  record += '\n';
  record.resize(kRecordBytes, ' ');
  return record;
}

// The record file, opened for writing when it is a regular file of this user's. Whatever else stands
// at its name (a FIFO or a link that a member of the folder's group planted, another user's file)
// is replaced by a new file: nothing at that name may make the daemon wait or write elsewhere. A
// folder there cannot be replaced; the save fails and says so.
int OpenRecordFile(const std::string& path) {
  constexpr int kFlags = O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  int fd = ::open(path.c_str(), kFlags | O_CREAT, 0640);
  struct stat status {};
  if (fd >= 0 && ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_uid == ::geteuid()) return fd;
  if (fd >= 0) ::close(fd);
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) return -1;
  return ::open(path.c_str(), kFlags | O_CREAT | O_EXCL, 0640);
}

}  // namespace

std::string LastReplyFile() { return SettingsFolder() + "/daemon-last-reply"; }

LastReplyWriter::~LastReplyWriter() {
  if (fd_ >= 0) ::close(fd_);
}

void LastReplyWriter::Save(const LastReply& reply) {
  const std::string record = RecordOf(reply);
  if (fd_ < 0) {
    fd_ = OpenRecordFile(LastReplyFile());
    if (fd_ >= 0 && ::fchmod(fd_, 0640) != 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  // The record whole: a longer file left at the name is cut to it.
  if (fd_ >= 0 && ::pwrite(fd_, record.data(), record.size(), 0) == static_cast<ssize_t>(record.size()) &&
      ::ftruncate(fd_, static_cast<off_t>(record.size())) == 0)
    return;
  std::fprintf(stderr, "hostwarden-daemon: cannot save %s: %s\n", LastReplyFile().c_str(), std::strerror(errno));
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

std::optional<LastReply> ReadLastReply() {
  const int fd = ::open(LastReplyFile().c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat status {};
  std::string text(kRecordBytes + 1, '\0');
  ssize_t length = -1;
  if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) length = ::pread(fd, text.data(), text.size(), 0);
  ::close(fd);
  if (length != static_cast<ssize_t>(kRecordBytes)) return std::nullopt;  // not a record of ours
  text.resize(kRecordBytes);
  const std::string head(kRecordHead);
  if (text.compare(0, head.size(), head) != 0) return std::nullopt;
  const auto first = text.find('\n', head.size());
  const auto second = first == std::string::npos ? first : text.find('\n', first + 1);
  if (second == std::string::npos) return std::nullopt;
  return LastReply{text.substr(head.size(), first - head.size()), text.substr(first + 1, second - first - 1)};
}

}  // namespace hw
