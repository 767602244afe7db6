#include "ddns/HostLookup.h"

#include "common/AppError.h"
#include "common/Text.h"
#include "platform/SocketErrors.h"

namespace hw {
namespace {

// Names under "invalid" never exist; they are answered here, as resolvers are meant to, without
// asking a name server that may be slow or unreachable.
bool IsReservedInvalidName(const std::string& host) {
  std::string name = AsciiLower(host);
  if (!name.empty() && name.back() == '.') name.pop_back();
  return name == "invalid" || name.ends_with(".invalid");
}

}  // namespace

AddressList LookUpHost(const std::string& host, int port, int family) {
  if (IsReservedInvalidName(host)) throw TransportError(SocketErrorMessage(SocketErrorNumberOfResolver(EAI_NONAME)));
  addrinfo hints{};
  hints.ai_family = family;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int lookup = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (lookup != 0) throw TransportError(SocketErrorMessage(SocketErrorNumberOfResolver(lookup)));
  return AddressList(found, &freeaddrinfo);
}

}  // namespace hw
