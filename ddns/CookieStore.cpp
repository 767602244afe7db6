#include "ddns/CookieStore.h"

#include "common/AppError.h"
#include "common/Text.h"

namespace hw {

void CookieStore::Take(const std::string& host, const HttpReply& reply, std::size_t limit) {
  for (const auto& [name, value] : reply.headers) {
    if (name != "set-cookie" && name != "set-cookie2") continue;
    const std::string_view pair = std::string_view(value).substr(0, value.find(';'));  // attributes dropped
    const auto equals = pair.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string cookieName = TrimBlanks(pair.substr(0, equals));
    if (cookieName.empty()) continue;
    auto& cookies = byHost_[AsciiLower(host)];
    if (!cookies.contains(cookieName) && ++count_ > limit) {
      --count_;
      throw TransportError(kReplyTooLarge);
    }
    cookies[cookieName] = TrimBlanks(pair.substr(equals + 1));
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
