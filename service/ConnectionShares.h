#pragma once
#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_map>

namespace hw::service {

// How much of something (connections, requests under way, downloads) each client holds at once, by
// the key its address counts under (ShareKeyOf), and in all; one table serves every daemon of a
// front, so that a reload does not give every client a second share.
class ConnectionShares {
 public:
  ConnectionShares(unsigned perKey, std::size_t total) : perKey_(perKey), total_(total) {}

  // Whether one more fits for the key, without taking it.
  bool Admits(const std::string& key) const;
  // Takes one for the key when it fits; false, and nothing taken, when it does not.
  bool Take(const std::string& key);
  // Takes one whether or not it fits (it was admitted a moment ago, or is exempt from the share).
  void Add(const std::string& key);
  void Give(const std::string& key);
  std::size_t Total() const;

 private:
  bool FitsLocked(const std::string& key) const;

  unsigned perKey_;
  std::size_t total_;
  mutable std::mutex mutex_;
  std::unordered_map<std::string, unsigned> held_;
  std::size_t sum_ = 0;
};

}  // namespace hw::service
