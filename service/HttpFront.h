#pragma once
#include <httplib.h>

#include <string>

#include "service/Exchange.h"
#include "service/ServiceClock.h"
#include "service/ServiceOptions.h"

namespace hw::service {

// Bounds that keep a slow, silent or oversized client from holding a worker or the memory.
inline constexpr std::size_t kMaxBodyBytes = 4096;
inline constexpr int kReadTimeoutSeconds = 5;

// Puts the service's endpoints on the server: "/now.php", "/", "/hostwarden<version>", and the
// posts "/sj.php", "/fo.php", "/lk.php". Every request is logged on standard error (path, address,
// status and the reply's marker; never a body, so never a password).
void MountEndpoints(httplib::Server& server, Exchange& exchange, const ServiceClock& clock,
                    const ServiceOptions& options);

// The address a request came from, as ClientAddressOf finds it from the peer and every
// X-Forwarded-For line.
std::string ClientAddress(const httplib::Request& request, const std::string& trustedProxy);

}  // namespace hw::service
