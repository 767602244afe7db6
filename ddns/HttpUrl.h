#pragma once
#include <string>

namespace hw {

// Where a service URL points: the host to look up, the port to connect to, the request target.
struct HttpTarget {
  std::string host;
  int port = 80;
  std::string path = "/";  // path, document and query, as sent on the request line
};

// Splits "http://host:port/path?query"; the port is 80 when the URL names none.
HttpTarget ParseHttpUrl(const std::string& url);

// The "Host" header value: the host, followed by ":" and the port unless it is 80.
std::string HostHeaderOf(const HttpTarget& target);

}  // namespace hw
