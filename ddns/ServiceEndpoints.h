#pragma once
#include <string>

namespace hw {

// Every path the client calls on the service, with its method, in one place.
enum class Endpoint { Query, Release, Register, Clock, Version, Download };

struct EndpointInfo {
  const char* path;
  const char* method;
};

const EndpointInfo& EndpointFor(Endpoint endpoint);

// "http://" + service host + ":17861", fixed when the program is built.
std::string ServiceHost();
// Points the program at another service prefix (tests use a fake service on loopback).
void SetServiceHost(std::string prefix);
// ServiceHost() followed by the endpoint's path.
std::string ServiceUrl(Endpoint endpoint);

}  // namespace hw
