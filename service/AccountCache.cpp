#include "service/AccountCache.h"

#include <mutex>
#include <utility>

namespace hw::service {

std::optional<CachedAccount> AccountCache::Get(const std::string& name) const {
  const std::shared_lock lock(mutex_);
  const auto found = entries_.find(name);
  if (found == entries_.end()) return std::nullopt;
  return found->second;
}

void AccountCache::Put(CachedAccount entry) {
  const std::unique_lock lock(mutex_);
  if (entries_.size() >= kMaxAccounts && !entries_.contains(entry.account.name)) entries_.erase(entries_.begin());
  std::string name = entry.account.name;
  entries_.insert_or_assign(std::move(name), std::move(entry));
}

void AccountCache::Forget(const std::string& name) {
  const std::unique_lock lock(mutex_);
  entries_.erase(name);
}

void AccountCache::ForgetAll() {
  const std::unique_lock lock(mutex_);
  entries_.clear();
}

std::size_t AccountCache::Size() const {
  const std::shared_lock lock(mutex_);
  return entries_.size();
}

}  // namespace hw::service
