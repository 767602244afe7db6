#pragma once
#include <unistd.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "service/Exchange.h"
#include "service/ServiceClock.h"
#include "service/ServiceOptions.h"

namespace hw::service {

// Bodies larger than this are refused (413): an envelope is far smaller.
inline constexpr std::size_t kMaxBodyBytes = 4096;
// The answer (400) to a request through the trusted proxy that does not name the client's address.
inline constexpr const char* kNoClientAddress = "No client address";

// One request as the HTTP front read it.
struct Request {
  std::string method;
  std::string path;                                // without the query
  std::map<std::string, std::string> arguments;    // of the query, decoded
  std::vector<std::string> forwardedFor;           // every X-Forwarded-For line
  std::string authorization;                       // the Authorization header
  std::string body;
  std::string peer;                                // the connection's address
};

// A file sent as a reply's body, read from its descriptor as the client takes it, so that a download
// holds no copy of it in memory. Closed with the last reply that uses it.
struct ReplyFile {
  int fd = -1;
  std::uint64_t size = 0;
  ReplyFile(int descriptor, std::uint64_t bytes) : fd(descriptor), size(bytes) {}
  ~ReplyFile() { ::close(fd); }
  ReplyFile(const ReplyFile&) = delete;
  ReplyFile& operator=(const ReplyFile&) = delete;
};

struct Response {
  int status = 200;
  std::string body;  // unless `file` is given
  std::string contentType = "text/plain";
  std::shared_ptr<const ReplyFile> file{};
};

// What answers the requests that an HTTP front reads.
class Responder {
 public:
  virtual ~Responder() = default;
  virtual Response Answer(const Request& request) const = 0;
  // The answer when it can be given at once from memory, on the thread that read the request;
  // nothing when it needs Answer.
  virtual std::optional<Response> AnswerAtOnce(const Request&) const { return std::nullopt; }
  // Whether answering reads or writes the accounts (then it is answered away from the connections,
  // as the database may make it wait), and whether it may take long besides (a slow hash).
  virtual bool UsesStore(const Request&) const { return false; }
  virtual bool Slow(const Request&) const { return false; }
  // The address the request came from, for the log.
  virtual std::string ClientOf(const Request& request) const { return request.peer; }
};

// The service's endpoints: "/now.php", "/", "/hostwarden<version>", "/nic/update" and, with an apt
// repository's folder, "/apt/<path>" by GET, and the posts "/sj.php", "/fo.php", "/lk.php";
// anything else 404.
class Endpoints : public Responder {
 public:
  Endpoints(Exchange& exchange, const ServiceClock& clock, const ServiceOptions& options);

  Response Answer(const Request& request) const override;
  std::optional<Response> AnswerAtOnce(const Request& request) const override;
  bool UsesStore(const Request& request) const override;
  bool Slow(const Request& request) const override;
  // The peer, or behind the trusted proxy the forwarded address.
  std::string ClientOf(const Request& request) const override;

 private:
  // The client's address, or empty when the trusted proxy named none.
  std::string AddressOf(const Request& request) const;
  Response Post(const Request& request) const;
  Response Dyndns2(const Request& request) const;
  Response Build(const std::string& version) const;
  Response RepositoryFile(const std::string& path) const;

  Exchange& exchange_;
  const ServiceClock& clock_;
  const ServiceOptions& options_;
  std::string version_;
};

}  // namespace hw::service
