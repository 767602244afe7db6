#pragma once
#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace hw::service {

// How often something may happen: a token bucket that holds `burst` tokens and gains one every
// `refill`.
struct Budget {
  double burst = 10;
  std::chrono::milliseconds refill{6000};
};

// One token bucket per key, made full on first use. At most `maxKeys` are followed: past it, the
// full ones go first (forgetting them costs nothing), then those whose key starts with
// `forgetFirst`, then all.
class TokenBuckets {
 public:
  using Clock = std::chrono::steady_clock;

  TokenBuckets(Budget budget, std::size_t maxKeys, std::string forgetFirst = {})
      : budget_(budget), maxKeys_(maxKeys), forgetFirst_(std::move(forgetFirst)) {}

  // Takes a token from every key at `now`; false, and nothing taken, when any has none left.
  bool TakeAll(const std::vector<std::string>& keys, Clock::time_point now);
  // Gives a token back to every key (never above the burst).
  void GiveAll(const std::vector<std::string>& keys, Clock::time_point now);

 private:
  struct Bucket {
    double tokens = 0;
    Clock::time_point updated;
  };
  Bucket& BucketOf(const std::string& key, Clock::time_point now);
  void Forget(Clock::time_point now);

  Budget budget_;
  std::size_t maxKeys_;
  std::string forgetFirst_;
  std::mutex mutex_;
  std::unordered_map<std::string, Bucket> buckets_;
};

}  // namespace hw::service
