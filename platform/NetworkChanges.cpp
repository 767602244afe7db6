#include "platform/NetworkChanges.h"

#include <arpa/inet.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <vector>

#include "common/AppError.h"

namespace hw {
namespace {

constexpr std::size_t kReceiveBuffer = 64 * 1024;
constexpr int kMessagesPerTake = 4096;  // a flood is read in bounded portions, the rest on the next wake
constexpr std::size_t kMaxStateLines = 4096;
constexpr int kDumpTimeoutMs = 1000;

int OpenRouteSocket(unsigned groups) {
  const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
  if (fd < 0) return -1;
  sockaddr_nl local{};
  local.nl_family = AF_NETLINK;
  local.nl_groups = groups;
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

std::uint32_t AddressFlags(const nlmsghdr* message) {
  const auto* address = static_cast<const ifaddrmsg*>(NLMSG_DATA(message));
  std::uint32_t flags = address->ifa_flags;
  int length = static_cast<int>(IFA_PAYLOAD(message));
  for (const rtattr* attribute = IFA_RTA(address); RTA_OK(attribute, length); attribute = RTA_NEXT(attribute, length))
    if (attribute->rta_type == IFA_FLAGS && RTA_PAYLOAD(attribute) >= sizeof(std::uint32_t))
      std::memcpy(&flags, RTA_DATA(attribute), sizeof flags);
  return flags;
}

bool AddressCounts(const nlmsghdr* message) {
  if (message->nlmsg_len < NLMSG_LENGTH(sizeof(ifaddrmsg))) return false;
  const auto* address = static_cast<const ifaddrmsg*>(NLMSG_DATA(message));
  // Link-local and host addresses never reach the service; temporary ones are not what a host name
  // should point at, and a tentative one is not usable yet (it is reported again when it is).
  return address->ifa_scope == RT_SCOPE_UNIVERSE && (AddressFlags(message) & (IFA_F_TEMPORARY | IFA_F_TENTATIVE)) == 0;
}

bool RouteCounts(const nlmsghdr* message) {
  if (message->nlmsg_len < NLMSG_LENGTH(sizeof(rtmsg))) return false;
  const auto* route = static_cast<const rtmsg*>(NLMSG_DATA(message));
  return route->rtm_dst_len == 0 && route->rtm_table == RT_TABLE_MAIN && route->rtm_type == RTN_UNICAST;
}

bool Counts(const nlmsghdr* message) {
  switch (message->nlmsg_type) {
    case RTM_NEWADDR:
    case RTM_DELADDR: return AddressCounts(message);
    case RTM_NEWROUTE:
    case RTM_DELROUTE: return RouteCounts(message);
    default: return false;
  }
}

bool IsAddressReport(const nlmsghdr* message) {
  return (message->nlmsg_type == RTM_NEWADDR || message->nlmsg_type == RTM_DELADDR) &&
         message->nlmsg_len >= NLMSG_LENGTH(sizeof(ifaddrmsg));
}

// "new address 2001:db8::1", "removed address 192.0.2.7".
std::string AddressReportText(const nlmsghdr* message) {
  const auto* address = static_cast<const ifaddrmsg*>(NLMSG_DATA(message));
  std::string text = message->nlmsg_type == RTM_NEWADDR ? "new address" : "removed address";
  int length = static_cast<int>(IFA_PAYLOAD(message));
  for (const rtattr* a = IFA_RTA(address); RTA_OK(a, length); a = RTA_NEXT(a, length)) {
    char printed[INET6_ADDRSTRLEN] = "";
    const bool fits = RTA_PAYLOAD(a) == (address->ifa_family == AF_INET6 ? 16u : 4u);
    if (a->rta_type == IFA_ADDRESS && fits && ::inet_ntop(address->ifa_family, RTA_DATA(a), printed, sizeof printed))
      text += std::string(" ") + printed;
  }
  return text;
}

std::string Hex(const void* data, std::size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (std::size_t i = 0; i < size; ++i) {
    const auto byte = static_cast<const unsigned char*>(data)[i];
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

// One line for an address or default route that counts: kind, family, interface, bytes.
std::string StateLine(const nlmsghdr* message) {
  if (message->nlmsg_type == RTM_NEWADDR) {
    const auto* address = static_cast<const ifaddrmsg*>(NLMSG_DATA(message));
    std::string line = "address " + std::to_string(address->ifa_family) + " " + std::to_string(address->ifa_index);
    int length = static_cast<int>(IFA_PAYLOAD(message));
    for (const rtattr* a = IFA_RTA(address); RTA_OK(a, length); a = RTA_NEXT(a, length))
      if (a->rta_type == IFA_ADDRESS) line += " " + Hex(RTA_DATA(a), RTA_PAYLOAD(a));
    return line;
  }
  const auto* route = static_cast<const rtmsg*>(NLMSG_DATA(message));
  std::string line = "route " + std::to_string(route->rtm_family);
  int length = static_cast<int>(RTM_PAYLOAD(message));
  for (const rtattr* a = RTM_RTA(route); RTA_OK(a, length); a = RTA_NEXT(a, length))
    if (a->rta_type == RTA_GATEWAY || a->rta_type == RTA_OIF) line += " " + Hex(RTA_DATA(a), RTA_PAYLOAD(a));
  return line;
}

// Asks for a dump of one kind (RTM_GETADDR, RTM_GETROUTE) and adds the lines that count.
bool Dump(int fd, std::uint16_t type, std::set<std::string>& lines) {
  struct {
    nlmsghdr head;
    rtgenmsg body;
  } request{};
  request.head.nlmsg_len = sizeof request;
  request.head.nlmsg_type = type;
  request.head.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  request.head.nlmsg_seq = type;
  request.body.rtgen_family = AF_UNSPEC;
  if (::send(fd, &request, sizeof request, 0) != static_cast<ssize_t>(sizeof request)) return false;
  std::vector<char> buffer(kReceiveBuffer);
  for (;;) {
    const ssize_t received = ::recv(fd, buffer.data(), buffer.size(), 0);
    if (received <= 0) return false;  // the socket's time bound, or an error
    int length = static_cast<int>(received);
    for (auto* message = reinterpret_cast<nlmsghdr*>(buffer.data()); NLMSG_OK(message, length);
         message = NLMSG_NEXT(message, length)) {
      if (message->nlmsg_type == NLMSG_DONE) return true;
      if (message->nlmsg_type == NLMSG_ERROR) return false;
      if (Counts(message)) lines.insert(StateLine(message));
      if (lines.size() > kMaxStateLines) return false;
    }
  }
}

}  // namespace

NetworkChanges::NetworkChanges() {
  fd_ = OpenRouteSocket(RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE);
  if (fd_ < 0) throw AppError("Cannot watch the network's addresses: " + std::string(std::strerror(errno)));
}

NetworkChanges::~NetworkChanges() { ::close(fd_); }

bool NetworkChanges::TakeChanges(const std::function<void(const std::string&)>& describe) {
  bool counts = false;
  std::vector<char> buffer(kReceiveBuffer);
  for (int messages = 0; messages < kMessagesPerTake;) {
    const ssize_t received = ::recv(fd_, buffer.data(), buffer.size(), 0);
    if (received < 0) return counts || errno == ENOBUFS;  // ENOBUFS: reports were dropped
    int length = static_cast<int>(received);
    for (auto* message = reinterpret_cast<nlmsghdr*>(buffer.data()); NLMSG_OK(message, length);
         message = NLMSG_NEXT(message, length), ++messages) {
      const bool thisCounts = Counts(message);
      if (describe && IsAddressReport(message))
        describe(std::string(thisCounts ? "counts: " : "ignored: ") + AddressReportText(message));
      counts = counts || thisCounts;
    }
  }
  return counts;
}

std::optional<std::string> NetworkState() {
  const int fd = OpenRouteSocket(0);
  if (fd < 0) return std::nullopt;
  const int flags = ::fcntl(fd, F_GETFL);
  ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  const timeval bound{kDumpTimeoutMs / 1000, (kDumpTimeoutMs % 1000) * 1000};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
  std::set<std::string> lines;
  const bool read = Dump(fd, RTM_GETADDR, lines) && Dump(fd, RTM_GETROUTE, lines);
  ::close(fd);
  if (!read) return std::nullopt;
  std::string state;
  for (const std::string& line : lines) state += line + "\n";
  return state;
}

}  // namespace hw
