#pragma once
#include <atomic>
#include <cstdint>
#include <semaphore>
#include <string>
#include <vector>

#include "service/AccountStore.h"
#include "service/FailureLimits.h"
#include "service/VerifiedPasswords.h"

namespace hw::service {

// The service's answers to the client's three posts. The client reads the first two characters as
// a marker and, for a query, drops the last seven (the trailer):
//
//   registration (/sj.php)   "##" + welcome text           registered; the name points here now
//                            "%%"                          name refused: taken, or against the rules
//   check (/fo.php)          "##" + address + trailer      address unchanged
//                            "**" + address + trailer      address changed; the record of its
//                                                          family follows it, the other one stays
//                            "@@"                          no such account
//                            "%%" + name + trailer         the name is bound to another machine
//                            "!!"                          wrong password
//   release (/lk.php)        "^^"                          released: account and record are gone
//                            "@@", "%%", "!!"              as for a check; nothing released
//
// The trailer is "-" and the service's time of day as hhmmss, seven characters.
struct Query {
  std::string body;      // the form body: the envelope
  std::string address;   // where the request came from
  std::int64_t now = 0;  // the service's clock, seconds since 1970
};

// Replies with HTTP status 400 carry this text: the body is no envelope of the client's.
inline constexpr const char* kBadEnvelope = "Bad envelope";

// What a password is found to be. `Limited`: the slow hash was not even tried, as the account or the
// client address has failed too often lately.
enum class Verdict { Right, Wrong, Limited };

class Exchange {
 public:
  // `fastHashes`: a cheap password hash, for tests only. `key`: the service's key for the digests of
  // verified passwords. `budget`: the slow hashes allowed per account and per client address that do
  // not find a right password (a registration's hash is charged to its address).
  Exchange(AccountStore& accounts, bool fastHashes, const VerificationKey& key, FailureBudget budget = {});

  // Whether answering the post would take a slow password hash (a registration, a password not
  // verified before, an unknown name): such work is run where waiting does no harm.
  bool NeedsSlowHash(const std::string& path, const std::string& body);
  bool Dyndns2NeedsSlowHash(const std::string& user, const std::string& password);

  // The reply text, or nothing when the body is no envelope.
  std::optional<std::string> Register(const Query& query);
  std::optional<std::string> Check(const Query& query);
  std::optional<std::string> Release(const Query& query);
  // A check answered from memory, at the cost of decoding the envelope and a digest: only for an
  // account in memory whose password was verified before, from the machine it is bound to, with its
  // record of the address's family at the address already ("##"). Nothing for any other check, which
  // then takes the way through the database (Check).
  std::optional<std::string> CheckAtOnce(const Query& query);

  // The dyndns2 update that standard DDNS clients send ("/nic/update" with basic authentication):
  // "good <addresses>" after a change of any record, "nochg <addresses>" without one (the addresses
  // joined by ","), "badauth" for an unknown account or a wrong password, "nohost" for a host name
  // that is not the account's, "notfqdn" for none. Each of `addresses` (one a family) goes into the
  // record of its family; `client` is where the request came from (failures count there).
  std::string Dyndns2Update(const std::string& user, const std::string& password, const std::string& hostName,
                            const std::vector<std::string>& addresses, const std::string& client, std::int64_t now);

 private:
  struct Lookup {
    std::optional<Account> account;
    std::string refusal;  // when there is no account: the reply that says why
  };
  std::optional<Lookup> Authorize(const Query& query);
  std::optional<Account> FindAccount(const std::string& name);
  std::string HashPassword(const std::string& password);
  // The password against the account's verified digest, else (within the failure limits) against its
  // slow hash; for a name without an account, against a stand-in hash, so that an unknown name costs
  // what a known one does.
  // A right password's digest goes into `account`.
  Verdict Verify(std::optional<Account>& account, const std::string& name, const std::string& password,
                 const std::string& address);

 public:
  // Slow hashes computed or verified so far, those under way now, and the answers given without one
  // because a failure limit was reached (measures for tests and operators).
  std::uint64_t SlowHashes() const { return slowHashes_; }
  std::int64_t HashesInFlight() const { return hashesInFlight_; }
  std::uint64_t LimitedAnswers() const { return limitedAnswers_; }
  std::uint64_t ChecksAtOnce() const { return checksAtOnce_; }

 private:
  AccountStore& accounts_;
  bool fastHashes_;
  FailureLimits limits_;
  VerifiedPasswords verified_;
  // At most one slow hash per core at once: each takes tens of megabytes and a good part of a second.
  std::counting_semaphore<> hashGate_;
  std::atomic<std::uint64_t> slowHashes_{0};
  std::atomic<std::int64_t> hashesInFlight_{0};
  std::atomic<std::uint64_t> limitedAnswers_{0};
  std::atomic<std::uint64_t> checksAtOnce_{0};
  // Runs one slow hash computation behind the gate, counted.
  template <typename Work>
  auto Hashing(Work work);
  std::string standInHash_;
};

// The client's rules for names, checked again here: 3 to 16 of a-z, 0-9 and "-", not at either end.
bool IsValidAccountName(const std::string& name);
// Twelve upper-case hexadecimal digits, as the client writes its machine identity.
bool IsValidMachineId(const std::string& machineId);

}  // namespace hw::service
