#pragma once
#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include "service/TokenBuckets.h"

namespace hw::service {

// How many slow hashes a key (an account name, a client address) may cause that do not end in a
// right password: ten at once, then one every six seconds. A slow hash runs only once it has taken
// a token from each of its keys, so that hashes running at once cannot overshoot the budget; a right
// password gives them back.
using FailureBudget = Budget;

class FailureLimits {
 public:
  using Clock = TokenBuckets::Clock;
  // At most this many keys are followed; past it the addresses are forgotten before the accounts
  // (account names are as many as the accounts, addresses as many as an attacker has).
  static constexpr std::size_t kMaxKeys = 100000;

  explicit FailureLimits(FailureBudget budget = {}) : buckets_(budget, kMaxKeys, "from ") {}

  // Takes a token from each key at `now`; false, and nothing taken, when either has none. An empty
  // account (a name no account has, a registration) is not followed: there is nothing to protect,
  // and made-up names would fill the table.
  bool Take(const std::string& account, const std::string& address, Clock::time_point now) {
    return buckets_.TakeAll(KeysOf(account, address), now);
  }
  // Gives back what Take took: the password was right.
  void Refund(const std::string& account, const std::string& address, Clock::time_point now) {
    buckets_.GiveAll(KeysOf(account, address), now);
  }

 private:
  static std::vector<std::string> KeysOf(const std::string& account, const std::string& address) {
    if (account.empty()) return {"from " + address};
    return {"name " + account, "from " + address};
  }

  TokenBuckets buckets_;
};

}  // namespace hw::service
