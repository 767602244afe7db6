#include "ddns/HttpClient.h"

#include "common/AppError.h"

namespace hw {
namespace {

// The service recognises its clients by this exact request profile (agent name included, dated as
// it looks); changing a byte of it makes the service treat the client as a stranger.
constexpr const char* kAccept = "text/html, */*";
constexpr const char* kUserAgent = "Mozilla/3.0 (compatible; Indy Library)";

// Marks the client busy for one exchange and restores the previous mark however it ends.
class WaitingMark {
 public:
  explicit WaitingMark(bool& flag) : flag_(flag), previous_(flag) { flag_ = true; }
  ~WaitingMark() { flag_ = previous_; }
  WaitingMark(const WaitingMark&) = delete;
  WaitingMark& operator=(const WaitingMark&) = delete;

 private:
  bool& flag_;
  bool previous_;
};

}  // namespace

HttpClient::HttpClient(Pump pump) : pump_(std::move(pump)) {}
HttpClient::~HttpClient() = default;

void HttpClient::SetLimits(const HttpLimits& limits) { limits_ = limits; }

void HttpClient::SetConnector(Connector connector) { connector_ = std::move(connector); }

std::string HttpClient::Get(const std::string& url) { return Exchange("GET", url, nullptr, AF_UNSPEC); }

std::string HttpClient::Post(const std::string& url, const std::string& body, int family) {
  contentType_ = "application/x-www-form-urlencoded";
  return Exchange("POST", url, &body, family);
}

std::string HttpClient::Head(const char* method, const HttpTarget& target, const std::string* body) const {
  const bool post = body != nullptr;
  std::string head = std::string(method) + " " + target.path + (post ? " HTTP/1.0" : " HTTP/1.1") + "\r\n";
  const auto add = [&head](const char* name, const std::string& value) {
    if (!value.empty()) head += std::string(name) + ": " + value + "\r\n";
  };
  add("Connection", connectionToken_);
  add("Content-Type", contentType_);
  add("Content-Length", post ? std::to_string(body->size()) : "");
  add("Host", HostHeaderOf(target));
  add("Accept", kAccept);
  add("User-Agent", kUserAgent);
  add("Cookie", cookies_.HeaderFor(target.host));
  return head + "\r\n";
}

HttpConnection& HttpClient::ConnectionFor(std::unique_ptr<HttpConnection>& nested) {
  // A request made while another of this client waits (from a handler run by the pump) gets its own
  // connection, so the waiting one is neither closed nor fed a stranger's reply.
  std::unique_ptr<HttpConnection>& slot = waiting_ ? nested : connection_;
  if (!slot) slot = std::make_unique<HttpConnection>(pump_, limits_, connector_);
  return *slot;
}

std::string HttpClient::Exchange(const char* method, const std::string& url, const std::string* body, int family) {
  const bool post = body != nullptr;
  const HttpTarget target = ParseHttpUrl(url);
  if (post && connectionToken_.empty()) connectionToken_ = "keep-alive";  // HTTP/1.0 keep-alive request

  std::unique_ptr<HttpConnection> nested;
  HttpConnection& connection = ConnectionFor(nested);
  const WaitingMark waiting(waiting_);
  try {
    connection.BeginExchange();
    if (post || !connection.Reusable()) connection.Open(target.host, target.port, family);
    connection.SetSilenceLimit(limits_.silenceMs);
    // A kept connection is secured already; a new one is, before the request goes out.
    if (target.secure && !connection.Secured()) connection.StartTls(target.host);
    connection.Send(Head(method, target, body));
    if (post) connection.Send(*body);
    const HttpReply reply = ReadReplyHead(connection);
    cookies_.Take(target.host, reply, limits_.cookies);
    std::string received = BodyOf(connection, reply);
    if (!reply.AllowsKeeping(post) || connection.PeerClosed()) connection.Close();
    return received;
  } catch (...) {
    connection.Close();
    throw;
  }
}

std::string HttpClient::BodyOf(HttpConnection& connection, const HttpReply& reply) {
  if (reply.IsRedirect() || !reply.IsSuccess()) {
    connection.SetSilenceLimit(limits_.errorBodyMs);
    try {
      ReadReplyBody(connection, reply);  // read briefly and dropped: only the status line is reported
    } catch (const ReplyCutShort&) {
      // dropped all the same
    }
    throw TransportError(reply.statusLine);
  }
  // The failure texts of this client go into the activity log verbatim and are known to users and
  // the service's support by their exact wording and capitals.
  if (reply.headCut) throw TransportError("Undefined situation");
  return reply.status == 204 ? std::string() : ReadReplyBody(connection, reply);
}

std::string HttpGet(HttpClient& client, const std::string& url) { return client.Get(url); }
std::string HttpPost(HttpClient& client, const std::string& url, const std::string& body, int family) {
  return client.Post(url, body, family);
}

}  // namespace hw
