#include "service/Endpoints.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <string_view>

#include "BuildConfig.h"
#include "ddns/Base64.h"
#include "service/ClientAddress.h"
#include "service/Dyndns2Addresses.h"

namespace hw::service {
namespace {

// A signed build is a few megabytes; nothing larger is served.
constexpr std::uintmax_t kMaxBuildBytes = 64 * 1024 * 1024 + 88;
// The repository's files: its indexes and the packages, each at most this large.
constexpr std::uintmax_t kMaxRepositoryFileBytes = 256 * 1024 * 1024;
constexpr std::size_t kMaxRepositoryPathBytes = 512;

// A regular file, opened for sending; nothing when it is missing, not a regular file (a folder is
// never listed) or larger than `maxBytes`.
std::shared_ptr<const ReplyFile> OpenServable(const std::string& file, std::uintmax_t maxBytes) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);  // a FIFO there never blocks
  if (fd < 0) return nullptr;
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || static_cast<std::uintmax_t>(status.st_size) > maxBytes) {
    ::close(fd);
    return nullptr;
  }
  return std::make_shared<const ReplyFile>(fd, static_cast<std::uint64_t>(status.st_size));
}

// Whether a path inside the repository may reach the file system: names of letters, digits and
// ".+_~-" joined by "/", none empty or starting with a dot (so no ".." and no hidden file).
bool IsRepositoryPath(const std::string& path) {
  if (path.empty() || path.size() > kMaxRepositoryPathBytes) return false;
  for (std::size_t start = 0; start <= path.size();) {
    const std::size_t end = std::min(path.find('/', start), path.size());
    const std::string_view name = std::string_view(path).substr(start, end - start);
    if (name.empty() || name.front() == '.') return false;
    for (const char c : name)
      if (!std::isalnum(static_cast<unsigned char>(c)) && std::string_view(".+_~-").find(c) == std::string_view::npos)
        return false;
    start = end + 1;
  }
  return true;
}

// "Basic <base64 of user:password>" as user and password; empty ones for anything else.
std::pair<std::string, std::string> BasicCredentials(const std::string& header) {
  if (!header.starts_with("Basic ") || (header.size() - 6) % 4 != 0) return {};
  const std::string pair = DecodeBase64(header.substr(6));
  const auto colon = pair.find(':');
  if (colon == std::string::npos) return {};
  return {pair.substr(0, colon), pair.substr(colon + 1)};
}

std::string ArgumentOf(const Request& request, const std::string& name) {
  const auto found = request.arguments.find(name);
  return found == request.arguments.end() ? std::string() : found->second;
}

}  // namespace

Endpoints::Endpoints(Exchange& exchange, const ServiceClock& clock, const ServiceOptions& options)
    : exchange_(exchange),
      clock_(clock),
      options_(options),
      version_(options.offerVersion.empty() ? HW_BUILD_VERSION : options.offerVersion) {}

std::string Endpoints::AddressOf(const Request& request) const {
  return ClientAddressOf(request.peer, request.forwardedFor, options_.trustedProxy);
}

std::string Endpoints::ClientOf(const Request& request) const {
  const std::string address = AddressOf(request);
  return address.empty() ? request.peer + " (for nobody named)" : address;
}

Response Endpoints::Answer(const Request& request) const {
  if (request.method == "POST") return Post(request);
  if (request.method != "GET") return {404, "Not Found"};
  if (request.path == "/now.php") return {200, clock_.Reply()};
  if (request.path == "/") return {200, version_};
  if (request.path == "/nic/update") return Dyndns2(request);
  if (request.path.starts_with("/hostwarden")) return Build(request.path.substr(11));
  if (request.path.starts_with("/apt/") && !options_.aptFolder.empty()) return RepositoryFile(request.path.substr(5));
  return {404, "Not Found"};
}

Response Endpoints::RepositoryFile(const std::string& path) const {
  if (IsRepositoryPath(path))
    if (auto file = OpenServable(options_.aptFolder + "/" + path, kMaxRepositoryFileBytes))
      return {200, {}, "application/octet-stream", std::move(file)};
  return {404, "Not Found"};
}

std::optional<Response> Endpoints::AnswerAtOnce(const Request& request) const {
  if (request.method != "POST" || request.path != "/fo.php" || request.body.size() > kMaxBodyBytes) return std::nullopt;
  const std::string client = AddressOf(request);
  if (client.empty()) return std::nullopt;
  if (const auto reply = exchange_.CheckAtOnce({request.body, client, clock_.Now()})) return Response{200, *reply};
  return std::nullopt;
}

bool Endpoints::UsesStore(const Request& request) const {
  return request.method == "POST" || (request.method == "GET" && request.path == "/nic/update");
}

bool Endpoints::Slow(const Request& request) const {
  if (request.method == "POST") return request.body.size() <= kMaxBodyBytes && exchange_.NeedsSlowHash(request.path, request.body);
  if (request.method == "GET" && request.path == "/nic/update") {
    const auto [user, password] = BasicCredentials(request.authorization);
    return exchange_.Dyndns2NeedsSlowHash(user, password);
  }
  return false;
}

Response Endpoints::Post(const Request& request) const {
  using Handler = std::optional<std::string> (Exchange::*)(const Query&);
  const std::map<std::string, Handler> handlers = {
      {"/sj.php", &Exchange::Register}, {"/fo.php", &Exchange::Check}, {"/lk.php", &Exchange::Release}};
  const auto handler = handlers.find(request.path);
  if (handler == handlers.end()) return {404, "Not Found"};
  if (request.body.size() > kMaxBodyBytes) return {413, "Payload Too Large"};
  const std::string client = AddressOf(request);
  if (client.empty()) return {400, kNoClientAddress};
  const Query query{request.body, client, clock_.Now()};
  if (const auto reply = (exchange_.*handler->second)(query)) return {200, *reply};
  return {400, kBadEnvelope};
}

// The dyndns2 protocol: the account's name and password as basic authentication, the addresses in
// "myip" and "myipv6" or, without any, the one the request came from.
Response Endpoints::Dyndns2(const Request& request) const {
  const auto [user, password] = BasicCredentials(request.authorization);
  const std::string client = AddressOf(request);
  if (client.empty()) return {400, kNoClientAddress};
  auto addresses = Dyndns2Addresses(ArgumentOf(request, "myip"), ArgumentOf(request, "myipv6"));
  if (addresses.empty()) addresses.push_back(client);
  return {200,
          exchange_.Dyndns2Update(user, password, ArgumentOf(request, "hostname"), addresses, client, clock_.Now())};
}

Response Endpoints::Build(const std::string& version) const {
  // Versions are digits and dots: nothing else may reach the file system.
  if (version.empty() || version.find_first_not_of("0123456789.") != std::string::npos) return {404, "No such build"};
  if (auto build = OpenServable(options_.buildsFolder + "/hostwarden" + version, kMaxBuildBytes))
    return {200, {}, "application/octet-stream", std::move(build)};
  return {404, "No such build"};
}

}  // namespace hw::service
