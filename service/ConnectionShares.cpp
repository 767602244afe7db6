#include "service/ConnectionShares.h"

namespace hw::service {

bool ConnectionShares::FitsLocked(const std::string& key) const {
  if (sum_ >= total_) return false;
  const auto found = held_.find(key);
  return found == held_.end() || found->second < perKey_;
}

bool ConnectionShares::Admits(const std::string& key) const {
  const std::lock_guard lock(mutex_);
  return FitsLocked(key);
}

bool ConnectionShares::Take(const std::string& key) {
  const std::lock_guard lock(mutex_);
  if (!FitsLocked(key)) return false;
  ++held_[key];
  ++sum_;
  return true;
}

void ConnectionShares::Add(const std::string& key) {
  const std::lock_guard lock(mutex_);
  ++held_[key];
  ++sum_;
}

void ConnectionShares::Give(const std::string& key) {
  const std::lock_guard lock(mutex_);
  const auto found = held_.find(key);
  if (found == held_.end()) return;
  --sum_;
  if (--found->second == 0) held_.erase(found);
}

std::size_t ConnectionShares::Total() const {
  const std::lock_guard lock(mutex_);
  return sum_;
}

}  // namespace hw::service
