#pragma once
#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_map>

namespace hw::service {

// How many failed password verifications a key (an account name, a client address) may cause: a
// token bucket that holds `burst` tokens and gains one every `refill`. A verification that needs the
// slow hash may run only while both of its keys have a token; each failure takes one from each.
struct FailureBudget {
  double burst = 10;
  std::chrono::milliseconds refill{6000};  // ten a minute, once the burst is spent
};

class FailureLimits {
 public:
  using Clock = std::chrono::steady_clock;
  // At most this many keys are followed; past it, the fullest buckets (forgotten at no cost) go first.
  static constexpr std::size_t kMaxKeys = 100000;

  explicit FailureLimits(FailureBudget budget = {}) : budget_(budget) {}

  // Whether both keys still have a token at `now`. An empty account (a name no account has) is not
  // followed: there is nothing to protect, and made-up names would fill the table.
  bool Allows(const std::string& account, const std::string& address, Clock::time_point now);
  // A failure of both keys at `now`.
  void Fail(const std::string& account, const std::string& address, Clock::time_point now);

 private:
  struct Bucket {
    double tokens = 0;
    Clock::time_point updated;
  };
  Bucket& BucketOf(const std::string& key, Clock::time_point now);
  void ForgetFullBuckets(Clock::time_point now);

  FailureBudget budget_;
  std::mutex mutex_;
  std::unordered_map<std::string, Bucket> buckets_;
};

}  // namespace hw::service
