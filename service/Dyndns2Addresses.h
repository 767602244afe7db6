#pragma once
#include <string>
#include <vector>

namespace hw::service {

// The addresses a dyndns2 update names for the account's records. Clients that keep both families
// send "myip" with one address or with an IPv4 and an IPv6 address joined by a comma, or the IPv6
// one apart in "myipv6". The first address of each family counts, IPv4 first; a piece that is no
// address is left out (only an address goes into a record), and an IPv4 address in IPv6 form counts
// as IPv4. Otherwise each stays as the client wrote it, as the reply repeats it.
std::vector<std::string> Dyndns2Addresses(const std::string& myip, const std::string& myipv6);

}  // namespace hw::service
