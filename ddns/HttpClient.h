#pragma once
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ddns/HttpConnection.h"

namespace hw {

// The blocking HTTP/1.x client the service sees: a fixed request profile, at most one kept
// connection, cookies in memory. Failures throw TransportError with their exact message text.
class HttpClient {
 public:
  explicit HttpClient(Pump pump = {});
  ~HttpClient();

  std::string Get(const std::string& url);
  // HTTP/1.0 on a fresh connection; switches the client's content type to a form for good.
  std::string Post(const std::string& url, const std::string& body);
  void SetTimeouts(int connectMs, int silenceMs, int errorBodyMs);

 private:
  struct Target {
    std::string host;
    int port = 80;
    std::string path;
  };
  struct Reply;

  std::string Exchange(const std::string& method, const std::string& url, const std::string* body);
  std::string Head(const std::string& method, const Target& target, const std::string* body) const;
  Reply ReadReply(HttpConnection& connection, const Target& target);
  std::string ReadBody(HttpConnection& connection, const Reply& reply);
  static Target ParseUrl(const std::string& url);

  Pump pump_;
  HttpLimits limits_;
  std::unique_ptr<HttpConnection> connection_;
  bool waiting_ = false;  // a request of this client is in progress (a nested one gets its own line)
  std::string contentType_ = "text/html";
  std::string connectionToken_;
  std::map<std::string, std::map<std::string, std::string>> cookies_;  // by host, then name
};

std::string HttpGet(HttpClient& client, const std::string& url);
std::string HttpPost(HttpClient& client, const std::string& url, const std::string& body);

}  // namespace hw
