#include "update/Download.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "common/AppError.h"
#include "platform/FileErrors.h"

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
  static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  if (!initialised) return;
  const std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), &curl_easy_cleanup);
  if (!curl) return;
  CURL* handle = curl.get();
  curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
  curl_easy_setopt(handle, CURLOPT_USERAGENT, agent.c_str());
  curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(handle, CURLOPT_BUFFERSIZE, kChunkBytes);
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, limits.connectSeconds);
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, limits.stallSeconds);
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &WriteChunk);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &target);
  curl_easy_perform(handle);  // its result is not looked at: a failed transfer ends like the data's end
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
