#pragma once
#include <cstddef>
#include <deque>
#include <string>

namespace hw {

// The offered versions that this run of the client has dealt with for good: a build that was
// refused is not fetched again, and a build it cannot install is announced once. Bounded, so a
// service that offers a new version at every tick cannot make it grow without end.
class VersionsPassedOver {
 public:
  static constexpr std::size_t kLimit = 64;

  bool Contains(const std::string& version) const;
  // Adds the version; past the bound the oldest is forgotten.
  void Add(const std::string& version);

 private:
  std::deque<std::string> versions_;
};

}  // namespace hw
