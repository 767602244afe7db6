#include "ddns/AddressFamilies.h"

#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "common/AppError.h"
#include "ddns/HostLookup.h"

namespace hw {
namespace {

// Whether the host has an address of the family that the machine has a route to. Connecting a
// datagram socket asks the kernel's routing table and sends nothing.
bool Routable(const std::string& host, int port, int family) {
  try {
    const AddressList addresses = LookUpHost(host, port, family);
    const addrinfo* first = addresses.get();
    const int probe = ::socket(first->ai_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe < 0) return false;
    const bool routed = ::connect(probe, first->ai_addr, first->ai_addrlen) == 0;
    ::close(probe);
    return routed;
  } catch (const TransportError&) {
    return false;  // no address of this family: absent, not an error
  }
}

bool IsGlobalUnicast(const in6_addr& address) { return (address.s6_addr[0] & 0xE0) == 0x20; }

}  // namespace

int SocketFamilyOf(AddressFamily family) {
  switch (family) {
    case AddressFamily::Ipv4: return AF_INET;
    case AddressFamily::Ipv6: return AF_INET6;
    case AddressFamily::Either: break;
  }
  return AF_UNSPEC;
}

std::string FamilyName(AddressFamily family) {
  switch (family) {
    case AddressFamily::Ipv4: return "IPv4";
    case AddressFamily::Ipv6: return "IPv6";
    case AddressFamily::Either: break;
  }
  return {};
}

std::vector<AddressFamily> FamiliesToReach(const std::string& host, int port) {
  std::vector<AddressFamily> families;
  if (Routable(host, port, AF_INET)) families.push_back(AddressFamily::Ipv4);
  if (HasGlobalIpv6Address() && Routable(host, port, AF_INET6)) families.push_back(AddressFamily::Ipv6);
  return families;
}

bool HasGlobalIpv6Address() {
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return false;
  bool found = false;
  for (const ifaddrs* entry = list; entry && !found; entry = entry->ifa_next)
    if (entry->ifa_addr && entry->ifa_addr->sa_family == AF_INET6)
      found = IsGlobalUnicast(reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr)->sin6_addr);
  ::freeifaddrs(list);
  return found;
}

}  // namespace hw
