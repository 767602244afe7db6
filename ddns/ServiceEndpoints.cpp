#include "ddns/ServiceEndpoints.h"

#include "BuildConfig.h"

namespace hw {
namespace {

std::string& ServiceHostOverride() {
  static std::string prefix;
  return prefix;
}

}  // namespace

const EndpointInfo& EndpointFor(Endpoint endpoint) {
  static const EndpointInfo kQuery{"/fo.php", "POST"};
  static const EndpointInfo kRelease{"/lk.php", "POST"};
  static const EndpointInfo kRegister{"/sj.php", "POST"};
  static const EndpointInfo kClock{"/now.php", "GET"};
  static const EndpointInfo kVersion{"/", "GET"};
  static const EndpointInfo kDownload{"/hostwarden", "GET"};
  switch (endpoint) {
    case Endpoint::Query: return kQuery;
    case Endpoint::Release: return kRelease;
    case Endpoint::Register: return kRegister;
    case Endpoint::Clock: return kClock;
    case Endpoint::Version: return kVersion;
    case Endpoint::Download: break;
  }
  return kDownload;
}

std::string ServiceHost() {
  const std::string& prefix = ServiceHostOverride();
  return prefix.empty() ? build::kServiceHost : prefix;
}

void SetServiceHost(std::string prefix) { ServiceHostOverride() = std::move(prefix); }

std::string ServiceUrl(Endpoint endpoint) { return ServiceHost() + EndpointFor(endpoint).path; }

}  // namespace hw
