#pragma once
#include <cstddef>
#include <optional>
#include <shared_mutex>
#include <string>
#include <unordered_map>

#include "service/Account.h"

namespace hw::service {

// An account as a check needs it to be answered from memory: as authorised (with its verified
// digest) and with the content of its records ("" where it has none of a family).
struct CachedAccount {
  Account account;
  std::string recordA;
  std::string recordAaaa;
};

// The accounts checked lately, so that a check whose password is verified and whose address is
// unchanged needs no database: at most kMaxAccounts (a million accounts of a few hundred bytes),
// past which one entry makes room for the next. The store keeps it right for its own changes and
// for those the change feed reports from other instances.
class AccountCache {
 public:
  static constexpr std::size_t kMaxAccounts = 1000000;

  std::optional<CachedAccount> Get(const std::string& name) const;
  void Put(CachedAccount entry);
  void Forget(const std::string& name);
  void ForgetAll();
  std::size_t Size() const;

 private:
  mutable std::shared_mutex mutex_;
  std::unordered_map<std::string, CachedAccount> entries_;
};

}  // namespace hw::service
