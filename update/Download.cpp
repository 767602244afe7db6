#include "update/Download.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "common/AppError.h"
#include "common/Text.h"
#include "platform/FileErrors.h"
#include "update/CurlLibrary.h"

namespace hw {
namespace {

constexpr long kChunkBytes = 1024;

using Clock = std::chrono::steady_clock;

// The target file and the first error that writing it met; curl's callbacks may not throw.
struct Target {
  int fd = -1;
  std::size_t written = 0;
  std::size_t maxBytes = 0;
  std::string error;
  int status = 0;         // of the reply being read
  bool redirect = false;  // the reply is a redirect: its body is no build
};

// Each header line of each reply, interim ones included: notes the status and whether it redirects.
size_t HeaderLine(char* data, size_t size, size_t count, void* context) {
  auto& target = *static_cast<Target*>(context);
  const std::string_view line(data, size * count);
  if (line.starts_with("HTTP/")) {
    const auto blank = line.find(' ');
    target.status = blank == std::string_view::npos ? 0 : std::atoi(std::string(line.substr(blank + 1, 3)).c_str());
    target.redirect = false;
  } else if (target.status >= 300 && target.status < 400 && SameIgnoringCase(line.substr(0, 9), "location:")) {
    target.redirect = true;
  }
  return line.size();
}

size_t WriteChunk(char* data, size_t size, size_t count, void* context) {
  auto& target = *static_cast<Target*>(context);
  const std::size_t length = size * count;
  if (target.redirect) return length;                       // only the build itself is saved
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

// "scheme://host[:port]" of an absolute address, in lower case, without any user part.
std::string OriginOf(std::string_view url) {
  const auto schemeEnd = url.find("://");
  if (schemeEnd == std::string_view::npos) return {};
  std::string_view authority = url.substr(schemeEnd + 3);
  authority = authority.substr(0, authority.find_first_of("/?#"));
  if (const auto at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);
  return AsciiLower(std::string(url.substr(0, schemeEnd + 3)).append(authority));
}

// An https service's certificate holds for its host, as for the client's other requests, and
// from the same store: libcurl reads neither SSL_CERT_FILE nor SSL_CERT_DIR by itself.
void SetVerification(const CurlLibrary& curl, CURL* handle) {
  curl.easySetopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
  curl.easySetopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
  const char* file = std::getenv("SSL_CERT_FILE");
  if (file && *file) curl.easySetopt(handle, CURLOPT_CAINFO, file);
  const char* folder = std::getenv("SSL_CERT_DIR");
  if (folder && *folder) curl.easySetopt(handle, CURLOPT_CAPATH, folder);
}

void SetOptions(const CurlLibrary& curl, CURL* handle, const std::string& agent, const DownloadLimits& limits,
                Target& target) {
  const auto set = [&](CURLoption option, auto value) { curl.easySetopt(handle, option, value); };
  SetVerification(curl, handle);
  set(CURLOPT_USERAGENT, agent.c_str());
  // Redirects are followed here, one by one, so that each can be checked before it is taken.
  set(CURLOPT_FOLLOWLOCATION, 0L);
  set(CURLOPT_PROTOCOLS_STR, "http,https");
  set(CURLOPT_NOSIGNAL, 1L);
  set(CURLOPT_BUFFERSIZE, kChunkBytes);
  set(CURLOPT_CONNECTTIMEOUT, limits.connectSeconds);
  set(CURLOPT_LOW_SPEED_LIMIT, 1L);
  set(CURLOPT_LOW_SPEED_TIME, limits.stallSeconds);
  set(CURLOPT_HEADERFUNCTION, &HeaderLine);
  set(CURLOPT_HEADERDATA, static_cast<void*>(&target));
  set(CURLOPT_WRITEFUNCTION, &WriteChunk);
  set(CURLOPT_WRITEDATA, static_cast<void*>(&target));
}

// The address a redirect reply sends the transfer on to, once its transfer has ended.
const char* RedirectOf(const CurlLibrary& curl, CURL* handle) {
  char* next = nullptr;
  if (curl.easyGetinfo(handle, CURLINFO_REDIRECT_URL, &next) != CURLE_OK) return nullptr;
  return next;
}

// True when the transfer came to its end: no error, and the last reply a 200.
bool Fetch(const std::string& url, const std::string& agent, const DownloadLimits& limits, Target& target) {
  std::string loadError;
  const CurlLibrary* curl = LoadCurl(loadError);
  if (!curl) {  // a transfer that cannot start ends as a failed one; the reason goes to the journal
    std::fprintf(stderr, "Download not started: %s\n", loadError.c_str());
    return false;
  }
  const std::unique_ptr<CURL, void (*)(CURL*)> handle(curl->easyInit(), curl->easyCleanup);
  if (!handle) return false;
  SetOptions(*curl, handle.get(), agent, limits, target);
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(limits.overallSeconds);
  const std::string origin = OriginOf(url);
  std::string address = url;
  for (int hop = 0; hop <= limits.maxRedirects; ++hop) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    curl->easySetopt(handle.get(), CURLOPT_URL, address.c_str());
    curl->easySetopt(handle.get(), CURLOPT_TIMEOUT_MS, static_cast<long>(left));
    // A failed transfer ends like the data's end; the file keeps what came.
    if (curl->easyPerform(handle.get()) != CURLE_OK || !target.error.empty()) return false;
    const char* next = target.redirect ? RedirectOf(*curl, handle.get()) : nullptr;
    if (!next) return target.status == 200;
    if (OriginOf(next) != origin) {  // builds come from the service itself, never from elsewhere
      std::fprintf(stderr, "Download not redirected to %s: another scheme or host\n", next);
      return false;
    }
    address = next;
  }
  return false;  // redirected too often
}

}  // namespace

bool DownloadToFile(const std::string& url, const std::string& fileName, const std::string& agent,
                    const DownloadLimits& limits) {
  Target target;
  target.maxBytes = limits.maxBytes;
  target.fd = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (target.fd < 0) throw FileError(FileErrorText(errno));
  const bool complete = Fetch(url, agent, limits, target);
  const int closed = ::close(target.fd);
  if (!target.error.empty()) throw FileError(target.error);
  if (closed != 0) throw FileError(FileErrorText(errno));
  return complete;
}

}  // namespace hw
