#include "ddns/CookieStore.h"

#include <algorithm>

#include "common/AppError.h"
#include "common/Text.h"

namespace hw {
namespace {

// A control byte (CR, LF, NUL, TAB, DEL, ...) in a cookie that goes back into a request head could
// end the header line there and begin another of the service's choosing.
bool HasControlByte(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
  });
}

}  // namespace

void CookieStore::Take(const std::string& host, const HttpReply& reply, std::size_t limit) {
  for (const auto& [name, value] : reply.headers) {
    if (name != "set-cookie" && name != "set-cookie2") continue;
    const std::string_view pair = std::string_view(value).substr(0, value.find(';'));  // attributes dropped
    const auto equals = pair.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string cookieName = TrimBlanks(pair.substr(0, equals));
    const std::string cookieValue = TrimBlanks(pair.substr(equals + 1));
    if (cookieName.empty() || HasControlByte(cookieName) || HasControlByte(cookieValue)) continue;
    auto& cookies = byHost_[AsciiLower(host)];
    if (!cookies.contains(cookieName) && ++count_ > limit) {
      --count_;
      throw TransportError(kReplyTooLarge);
    }
    cookies[cookieName] = cookieValue;
  }
}

std::string CookieStore::HeaderFor(const std::string& host) const {
  const auto found = byHost_.find(AsciiLower(host));
  if (found == byHost_.end()) return {};
  std::string header;
  for (const auto& [name, value] : found->second) header += (header.empty() ? "" : "; ") + name + "=" + value;
  return header;
}

}  // namespace hw
