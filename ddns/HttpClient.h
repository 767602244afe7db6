#pragma once
#include <memory>
#include <string>

#include "ddns/CookieStore.h"
#include "ddns/HttpConnection.h"
#include "ddns/HttpReply.h"
#include "ddns/HttpUrl.h"

namespace hw {

// The blocking HTTP/1.x client the service sees: a fixed request profile, at most one kept
// connection, cookies in memory; an https URL's exchange goes over TLS, with the same bytes inside. Failures throw TransportError with their exact message text.
// While a request waits, the pump runs; a request made from inside it (a handler that the pump
// dispatched) travels on a connection of its own and leaves the waiting one untouched.
class HttpClient {
 public:
  explicit HttpClient(Pump pump = {});
  ~HttpClient();
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  // HTTP/1.1, on the connection a previous exchange kept when it is still usable.
  std::string Get(const std::string& url);
  // HTTP/1.0 on a fresh connection (to an address of `family`, AF_UNSPEC: either); switches the
  // client's content type to a form for good.
  std::string Post(const std::string& url, const std::string& body, int family = AF_UNSPEC);
  // The bounds of every later exchange (tests shorten them).
  void SetLimits(const HttpLimits& limits);
  const HttpLimits& Limits() const { return limits_; }
  // Replaces the lookup and connect of new connections (tests hand out one end of a socket pair).
  void SetConnector(Connector connector);

 private:
  std::string Exchange(const char* method, const std::string& url, const std::string* body, int family);
  HttpConnection& ConnectionFor(std::unique_ptr<HttpConnection>& nested);
  std::string Head(const char* method, const HttpTarget& target, const std::string* body) const;
  std::string BodyOf(HttpConnection& connection, const HttpReply& reply);

  Pump pump_;
  HttpLimits limits_;
  Connector connector_;
  std::unique_ptr<HttpConnection> connection_;
  bool waiting_ = false;  // an exchange of this client is in progress further up the stack
  std::string contentType_ = "text/html";
  std::string connectionToken_;
  CookieStore cookies_;
};

std::string HttpGet(HttpClient& client, const std::string& url);
std::string HttpPost(HttpClient& client, const std::string& url, const std::string& body, int family = AF_UNSPEC);

}  // namespace hw
