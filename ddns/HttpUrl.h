#pragma once
#include <string>

namespace hw {

// Where a service URL points: the host to look up, the port to connect to, the request target, and
// whether the connection goes over TLS.
struct HttpTarget {
  std::string host;
  int port = 80;
  std::string path = "/";  // path, document and query, as sent on the request line
  bool secure = false;     // an https URL
};

// Splits "http://host:port/path?query" or "https://..."; the port is the scheme's (80, 443) when the
// URL names none.
HttpTarget ParseHttpUrl(const std::string& url);

// The "Host" header value: the host, followed by ":" and the port unless it is the scheme's.
std::string HostHeaderOf(const HttpTarget& target);

}  // namespace hw
