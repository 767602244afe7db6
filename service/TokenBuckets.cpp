#include "service/TokenBuckets.h"

#include <algorithm>

namespace hw::service {

TokenBuckets::Bucket& TokenBuckets::BucketOf(const std::string& key, Clock::time_point now) {
  if (!buckets_.contains(key) && buckets_.size() >= maxKeys_) Forget(now);
  auto [found, added] = buckets_.try_emplace(key, Bucket{budget_.burst, now});
  Bucket& bucket = found->second;
  if (!added && now > bucket.updated) {
    const double gained = std::chrono::duration<double>(now - bucket.updated) / budget_.refill;
    bucket.tokens = std::min(budget_.burst, bucket.tokens + gained);
    bucket.updated = now;
  }
  return bucket;
}

void TokenBuckets::Forget(Clock::time_point now) {
  std::erase_if(buckets_, [&](const auto& entry) {
    const double gained = std::chrono::duration<double>(now - entry.second.updated) / budget_.refill;
    return entry.second.tokens + gained >= budget_.burst;
  });
  if (buckets_.size() >= maxKeys_ && !forgetFirst_.empty())
    std::erase_if(buckets_, [&](const auto& entry) { return entry.first.starts_with(forgetFirst_); });
  if (buckets_.size() >= maxKeys_) buckets_.clear();
}

bool TokenBuckets::TakeAll(const std::vector<std::string>& keys, Clock::time_point now) {
  const std::lock_guard lock(mutex_);
  for (const std::string& key : keys)
    if (BucketOf(key, now).tokens < 1) return false;
  for (const std::string& key : keys) BucketOf(key, now).tokens -= 1;
  return true;
}

void TokenBuckets::GiveAll(const std::vector<std::string>& keys, Clock::time_point now) {
  const std::lock_guard lock(mutex_);
  for (const std::string& key : keys) {
    Bucket& bucket = BucketOf(key, now);
    bucket.tokens = std::min(budget_.burst, bucket.tokens + 1);
  }
}

}  // namespace hw::service
