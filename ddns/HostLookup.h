#pragma once
#include <netdb.h>

#include <memory>
#include <string>

namespace hw {

using AddressList = std::unique_ptr<addrinfo, decltype(&freeaddrinfo)>;

// The host's addresses for a stream connection to `port`, of `family` (AF_UNSPEC: both, in the
// resolver's order); a name that cannot be found throws TransportError with the resolver's text.
// Nothing is pumped meanwhile.
AddressList LookUpHost(const std::string& host, int port, int family);

}  // namespace hw
