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

bool FailureLimits::Allows(const std::string& account, const std::string& address, Clock::time_point now) {
  const std::lock_guard lock(mutex_);
  const bool accountAllows = account.empty() || BucketOf("name " + account, now).tokens >= 1;
  return accountAllows && BucketOf("from " + address, now).tokens >= 1;
}

void FailureLimits::Fail(const std::string& account, const std::string& address, Clock::time_point now) {
  const std::lock_guard lock(mutex_);
  for (const std::string& key : {"name " + account, "from " + address}) {
    if (key == "name ") continue;  // no account to protect
    Bucket& bucket = BucketOf(key, now);
    bucket.tokens = std::max(0.0, bucket.tokens - 1);
  }
}

}  // namespace hw::service
