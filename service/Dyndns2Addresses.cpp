#include "service/Dyndns2Addresses.h"

#include <algorithm>

#include "common/Text.h"
#include "service/ClientAddress.h"

namespace hw::service {

std::vector<std::string> Dyndns2Addresses(const std::string& myip, const std::string& myipv6) {
  std::string ipv4, ipv6;
  const std::string pieces = myip + "," + myipv6;
  for (std::size_t start = 0; start <= pieces.size();) {
    const std::size_t end = std::min(pieces.find(',', start), pieces.size());
    const std::string piece = PlainAddress(TrimBlanks(std::string_view(pieces).substr(start, end - start)));
    std::string& family = IsIpv6(RecordForm(piece)) ? ipv6 : ipv4;
    if (family.empty() && IsIpAddress(piece)) family = piece;
    start = end + 1;
  }
  std::vector<std::string> addresses;
  for (const std::string* address : {&ipv4, &ipv6})
    if (!address->empty()) addresses.push_back(*address);
  return addresses;
}

}  // namespace hw::service
