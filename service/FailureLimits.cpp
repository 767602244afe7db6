#include "service/FailureLimits.h"

#include <algorithm>

namespace hw::service {

FailureLimits::Bucket& FailureLimits::BucketOf(const std::string& key, Clock::time_point now) {
  if (!buckets_.contains(key) && buckets_.size() >= kMaxKeys) ForgetFullBuckets(now);
  auto [found, added] = buckets_.try_emplace(key, Bucket{budget_.burst, now});
  Bucket& bucket = found->second;
  if (!added && now > bucket.updated) {
    const double gained = std::chrono::duration<double>(now - bucket.updated) / budget_.refill;
    bucket.tokens = std::min(budget_.burst, bucket.tokens + gained);
    bucket.updated = now;
  }
  return bucket;
}

void FailureLimits::ForgetFullBuckets(Clock::time_point now) {
  std::erase_if(buckets_, [&](const auto& entry) {
    const double gained = std::chrono::duration<double>(now - entry.second.updated) / budget_.refill;
    return entry.second.tokens + gained >= budget_.burst;
  });
  // Still full: the addresses go before the accounts (account names are as many as the accounts,
  // addresses as many as an attacker has), and only if nothing else is left do the accounts.
  if (buckets_.size() >= kMaxKeys) std::erase_if(buckets_, [](const auto& entry) { return entry.first.starts_with("from "); });
  if (buckets_.size() >= kMaxKeys) buckets_.clear();
}

std::vector<std::string> FailureLimits::KeysOf(const std::string& account, const std::string& address) {
  if (account.empty()) return {"from " + address};
  return {"name " + account, "from " + address};
}

bool FailureLimits::Take(const std::string& account, const std::string& address, Clock::time_point now) {
  const std::lock_guard lock(mutex_);
  const auto keys = KeysOf(account, address);
  for (const std::string& key : keys)
    if (BucketOf(key, now).tokens < 1) return false;
  for (const std::string& key : keys) BucketOf(key, now).tokens -= 1;
  return true;
}

void FailureLimits::Refund(const std::string& account, const std::string& address, Clock::time_point now) {
  const std::lock_guard lock(mutex_);
  for (const std::string& key : KeysOf(account, address)) {
    Bucket& bucket = BucketOf(key, now);
    bucket.tokens = std::min(budget_.burst, bucket.tokens + 1);
  }
}

}  // namespace hw::service
