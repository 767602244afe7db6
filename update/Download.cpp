#include "update/Download.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>

#include "common/AppError.h"
#include "platform/FileErrors.h"
#include "update/CurlLibrary.h"

namespace hw {
namespace {

constexpr long kChunkBytes = 1024;

// The target file and the first error that writing it met; curl's callbacks may not throw.
struct Target {
  int fd = -1;
  std::size_t written = 0;
  std::size_t maxBytes = 0;
  std::string error;
};

size_t WriteChunk(char* data, size_t size, size_t count, void* context) {
  auto& target = *static_cast<Target*>(context);
  const std::size_t length = size * count;
  if (target.written + length > target.maxBytes) return 0;  // too large: stop as a dropped connection would
  const ssize_t stored = ::write(target.fd, data, length);
  if (stored < 0) {
    target.error = FileErrorText(errno);
    return 0;
  }
  if (static_cast<std::size_t>(stored) < length) {
    target.error = "Disk full";
    return 0;
  }
  target.written += length;
  return length;
}

void Fetch(const std::string& url, const std::string& agent, const DownloadLimits& limits, Target& target) {
  std::string loadError;
  const CurlLibrary* curl = LoadCurl(loadError);
  if (!curl) {  // a transfer that cannot start ends as a failed one; the reason goes to the journal
    std::fprintf(stderr, "Download not started: %s\n", loadError.c_str());
    return;
  }
  const std::unique_ptr<CURL, void (*)(CURL*)> handle(curl->easyInit(), curl->easyCleanup);
  if (!handle) return;
  const auto set = [&](CURLoption option, auto value) { curl->easySetopt(handle.get(), option, value); };
  set(CURLOPT_URL, url.c_str());
  set(CURLOPT_USERAGENT, agent.c_str());
  set(CURLOPT_FOLLOWLOCATION, 1L);
  set(CURLOPT_NOSIGNAL, 1L);
  set(CURLOPT_BUFFERSIZE, kChunkBytes);
  set(CURLOPT_CONNECTTIMEOUT, limits.connectSeconds);
  set(CURLOPT_LOW_SPEED_LIMIT, 1L);
  set(CURLOPT_LOW_SPEED_TIME, limits.stallSeconds);
  set(CURLOPT_WRITEFUNCTION, &WriteChunk);
  set(CURLOPT_WRITEDATA, static_cast<void*>(&target));
  curl->easyPerform(handle.get());  // its result is not looked at: a failed transfer ends like the data's end
}

}  // namespace

void DownloadToFile(const std::string& url, const std::string& fileName, const std::string& agent,
                    const DownloadLimits& limits) {
  Target target;
  target.maxBytes = limits.maxBytes;
  target.fd = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (target.fd < 0) throw FileError(FileErrorText(errno));
  Fetch(url, agent, limits, target);
  const int closed = ::close(target.fd);
  if (!target.error.empty()) throw FileError(target.error);
  if (closed != 0) throw FileError(FileErrorText(errno));
}

}  // namespace hw
