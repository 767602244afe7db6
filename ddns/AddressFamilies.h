#pragma once
#include <string>
#include <vector>

namespace hw {

// The address family a request travels over. `Either` is the resolver's first address, whatever
// its family: what every request uses unless the user asked for a check over each family.
enum class AddressFamily { Either, Ipv4, Ipv6 };

int SocketFamilyOf(AddressFamily family);
// "IPv4" or "IPv6"; empty for Either.
std::string FamilyName(AddressFamily family);

// The families over which this machine can reach the host: IPv4 when the host has an IPv4 address
// the machine has a route to; IPv6 when, in addition, the machine has a global IPv6 address of its
// own. A family that is missing is simply left out; an empty list means neither can be told apart
// from a failure (the caller then sends as usual and reports what goes wrong).
std::vector<AddressFamily> FamiliesToReach(const std::string& host, int port);

// Whether an interface holds a global unicast IPv6 address (2000::/3).
bool HasGlobalIpv6Address();

}  // namespace hw
