#include "service/ClientAddress.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>

#include "common/Text.h"

namespace hw::service {
bool IsIpAddress(const std::string& text) {
  unsigned char bytes[16];
  return ::inet_pton(AF_INET, text.c_str(), bytes) == 1 || ::inet_pton(AF_INET6, text.c_str(), bytes) == 1;
}

std::string PlainAddress(const std::string& address) {
  // Only an address that really is IPv4 in IPv6 form: "::ffff:1:192.0.2.1" is a plain IPv6 address,
  // and text that merely starts with "::ffff:" is no address at all.
  in6_addr bytes{};
  if (::inet_pton(AF_INET6, address.c_str(), &bytes) != 1 || !IN6_IS_ADDR_V4MAPPED(&bytes)) return address;
  char text[INET_ADDRSTRLEN];
  return ::inet_ntop(AF_INET, bytes.s6_addr + 12, text, sizeof text) ? std::string(text) : address;
}

std::string RecordForm(const std::string& address) {
  unsigned char bytes[16];
  char text[INET6_ADDRSTRLEN];
  for (const int family : {AF_INET, AF_INET6})
    if (::inet_pton(family, address.c_str(), bytes) == 1 && ::inet_ntop(family, bytes, text, sizeof text))
      return PlainAddress(text);  // inet_ntop writes a mapped address with dots, "::ffff:1.2.3.4"
  return address;
}

std::string ClientAddressOf(const std::string& peer, const std::vector<std::string>& forwardedFor,
                            const std::string& trustedProxy) {
  const std::string from = PlainAddress(peer);
  if (trustedProxy.empty() || from != PlainAddress(trustedProxy)) return from;
  std::string joined;
  for (const std::string& line : forwardedFor) joined += (joined.empty() ? "" : ",") + line;
  const std::string last = PlainAddress(TrimBlanks(std::string_view(joined).substr(joined.rfind(',') + 1)));
  return IsIpAddress(last) ? last : std::string();
}

std::string ShareKeyOf(const std::string& plainAddress) {
  in6_addr bytes{};
  if (::inet_pton(AF_INET6, plainAddress.c_str(), &bytes) != 1) return plainAddress;
  std::fill(bytes.s6_addr + 8, bytes.s6_addr + 16, 0);
  char text[INET6_ADDRSTRLEN];
  return ::inet_ntop(AF_INET6, &bytes, text, sizeof text) ? std::string(text) + "/64" : plainAddress;
}

std::string LogSafe(const std::string& text) {
  std::string safe;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      safe += escaped;
    } else {
      if (c == '\\') safe += '\\';
      safe += c;
    }
  }
  return safe;
}

}  // namespace hw::service
