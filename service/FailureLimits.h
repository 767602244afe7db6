#pragma once
#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace hw::service {

// How many slow hashes a key (an account name, a client address) may cause that do not end in a
// right password: a token bucket that holds `burst` tokens and gains one every `refill`. A slow hash
// runs only once it has taken a token from each of its keys, so that hashes running at once cannot
// overshoot the budget; a right password gives them back.
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

  // Takes a token from each key at `now`; false, and nothing taken, when either has none. An empty
  // account (a name no account has, a registration) is not followed: there is nothing to protect,
  // and made-up names would fill the table.
  bool Take(const std::string& account, const std::string& address, Clock::time_point now);
  // Gives back what Take took: the password was right.
  void Refund(const std::string& account, const std::string& address, Clock::time_point now);

 private:
  struct Bucket {
    double tokens = 0;
    Clock::time_point updated;
  };
  Bucket& BucketOf(const std::string& key, Clock::time_point now);
  static std::vector<std::string> KeysOf(const std::string& account, const std::string& address);
  void ForgetFullBuckets(Clock::time_point now);

  FailureBudget budget_;
  std::mutex mutex_;
  std::unordered_map<std::string, Bucket> buckets_;
};

}  // namespace hw::service
