#include "ddns/HttpUrl.h"

#include <charconv>

#include "common/Text.h"

namespace hw {
namespace {

int DefaultPortOf(bool secure) { return secure ? 443 : 80; }

}  // namespace

HttpTarget ParseHttpUrl(const std::string& url) {
  HttpTarget target;
  std::string rest = url;
  if (const auto scheme = rest.find("://"); scheme != std::string::npos) {
    target.secure = SameIgnoringCase(rest.substr(0, scheme), "https");
    target.port = DefaultPortOf(target.secure);
    rest.erase(0, scheme + 3);
  }
  rest = rest.substr(0, rest.find('#'));  // a fragment never goes on the wire
  const auto slash = rest.find_first_of("/?");
  if (slash != std::string::npos) target.path = (rest[slash] == '/' ? "" : "/") + rest.substr(slash);
  std::string authority = rest.substr(0, slash);
  if (const auto colon = authority.rfind(':'); colon != std::string::npos) {
    const char* digits = authority.data() + colon + 1;
    const char* end = authority.data() + authority.size();
    int port = 0;
    const auto [stop, error] = std::from_chars(digits, end, port);
    if (error == std::errc() && stop == end && port > 0 && port < 65536) target.port = port;
    authority.resize(colon);
  }
  target.host = authority;
  return target;
}

std::string HostHeaderOf(const HttpTarget& target) {
  return target.port == DefaultPortOf(target.secure) ? target.host : target.host + ":" + std::to_string(target.port);
}

}  // namespace hw
