#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <unordered_map>
#include <optional>
#include <string>
#include <vector>

#include "service/Account.h"
#include "service/AccountCache.h"
#include "service/SqlDatabase.h"
#include "service/TokenBuckets.h"

namespace hw::service {

enum class AddressChange { Unchanged, Changed, AccountGone };

// The accounts and their DNS records, in the database that the DNS server reads: every account has
// an A record, an AAAA record or both, named <account><suffix> in the zone of the suffix, with a
// short time to live. Each record follows the updates over its own family only, so that a machine
// reached over both keeps both. The service changes only the records it wrote (it keeps their ids)
// and, of the SOA, only the serial. Every change of an account and of its record is one transaction.
//
// Changes raise the zone's SOA serial, so that secondaries follow, at most once a second for the
// whole zone, however many changes and instances there are: the first change of a second raises it,
// and a later one leaves it to CatchUp in the next second. An account's records change at most
// kRecordChanges at once and then once every kRecordChangeEvery: a check beyond that is answered as
// it would be, and its record is written by CatchUp once the account may change again.
//
// The accounts checked lately are kept in memory as well (Cached), for checks answered without the
// database: the store keeps them right for its own changes at once, and for another instance's
// within a tenth of a second through the change feed (FollowChanges). Where and when such a check
// came from is written a second later by CatchUp, many at once (NoteSeen).
class AccountStore {
 public:
  static constexpr int kRecordTtl = 60;
  // How far back every read of the change feed looks.
  static constexpr std::int64_t kChangesFollowedSeconds = 5;
  // Unless the service is told otherwise (--record-changes).
  static constexpr double kRecordChanges = 4;
  static constexpr std::chrono::seconds kRecordChangeEvery{15};

  // Makes the DNS server's tables (from its backend's schema file) and the service's own when they
  // are missing, and the zone with its SOA and NS records. A zone that exists but was not made by
  // the service is refused (DatabaseError) unless `adoptZone`.
  AccountStore(std::unique_ptr<SqlDatabase> database, const std::string& schemaFile, std::string domainSuffix,
               bool adoptZone = false, Budget recordChanges = {kRecordChanges, kRecordChangeEvery});

  std::optional<Account> Find(const std::string& name);
  std::int64_t Count();
  // Whether the name is taken, by an account or by records that are not the service's.
  bool IsTaken(const std::string& name);
  // False when the name is taken. The record of the address's family points at the account's
  // address at once; the account's verified digest, when given, is kept with it.
  bool Create(const Account& account);
  // Keeps the digest of a password just verified for the account as it was authorised (nothing when
  // its password has changed or it is gone meanwhile).
  void RememberVerified(const Account& authorised, const std::string& digest);
  // Records where a query came from and when, for the account as it was authorised (name, password
  // hash and machine), and points the account's record of each address's family at that address
  // (one address a family); the records of the other family stay. Changed when any record changed;
  // AccountGone, with nothing written, when that account is no longer there.
  AddressChange SetAddresses(const Account& authorised, const std::vector<std::string>& addresses,
                             const std::string& from, std::int64_t time);
  // The account as it was authorised and its records go.
  void Remove(const Account& authorised);

  std::string HostName(const std::string& name) const { return name + domainSuffix_; }

  // Raises the serial for the changes that their own second could not, and writes the records that
  // waited for their account's budget; the service's upkeep calls it about once a second.
  void CatchUp();
  // Record changes waiting for their account's budget.
  std::size_t WaitingChanges();
  // Before the service ends: writes what checks from memory noted and every waiting record change,
  // whatever the budget (their clients were told "changed"). A serial still owed is raised by the
  // next start, or by another instance.
  void Flush();

  // The account as the last read or change left it, when it is in memory.
  std::optional<CachedAccount> Cached(const std::string& name) const { return cache_.Get(name); }
  // Reads every account with a verified password (up to the memory's bound) into memory, so that a
  // service just started answers their checks from memory from the first one; returns how many.
  std::size_t WarmUp();
  // A check of the account as cached came from `from` at `time`: written by the next CatchUp.
  void NoteSeen(const Account& authorised, const std::string& from, std::int64_t time);
  // Forgets the accounts in memory that any instance changed within the last few seconds (repeated,
  // so that a change committed while this instance read the account is caught the next time).
  void FollowChanges();
  // The wall clock in seconds that paces the serial (the system's unless a test sets another).
  void UseClock(std::function<std::int64_t()> clock) { wallClock_ = std::move(clock); }

 private:
  void EnsureSchema(const std::string& schemaFile);
  void EnsureZone(bool adopt);
  void ClaimAccountRecords();
  // Points the account's record of the address's family at it; false when it did already.
  bool WriteRecord(const std::string& name, const std::string& address);
  bool RecordDiffers(const std::string& name, const std::string& address);
  bool IsTakenLocked(const std::string& name);
  void RemoveRecords(const std::string& name);
  void BumpSerial();
  // Raises the serial unless it was raised this second already; then CatchUp does.
  void RaiseSerial();
  void CatchUpSerial();
  void WriteWaitingRecords(bool all);
  void Wait(const Account& authorised, const std::vector<std::string>& addresses,
            const std::vector<std::string>& waiting, std::int64_t time);
  void WriteSeen();
  // Tells every instance (through the change feed) that the account changed.
  void Announce(const std::string& name);
  // Puts the account as authorised and its records as they are now into memory.
  void Remember(const Account& authorised);
  // Runs the body in one transaction; rolled back when it throws.
  template <typename Body>
  auto InTransaction(Body body);

  std::unique_ptr<SqlDatabase> db_;
  std::string domainSuffix_;  // ".hostwarden.test"
  std::string zone_;          // "hostwarden.test"
  std::string zoneId_;
  std::mutex mutex_;  // one statement at a time on the one connection
  std::function<std::int64_t()> wallClock_;
  std::string databaseNow_;  // SQL for the database's clock, in seconds
  // Record changes waiting for their account's budget: one address a family, for the account as it
  // was authorised and last updated here.
  struct WaitingChange {
    Account authorised;
    std::int64_t updated = 0;
    std::map<bool, std::string> addressByFamily;  // IPv6 or not
  };
  std::unordered_map<std::string, WaitingChange> waiting_;
  TokenBuckets recordChanges_;
  AccountCache cache_;
  std::mutex seenMutex_;  // apart from the database's: checks from memory never wait for it
  struct Seen {
    Account authorised;
    std::string from;
    std::int64_t time = 0;
  };
  std::unordered_map<std::string, Seen> seen_;
  std::int64_t prunedAt_ = 0;    // when the change feed was last cut short
  // When it was last read whole; memory is as fresh as the database when the store opens.
  std::chrono::steady_clock::time_point followedAt_ = std::chrono::steady_clock::now();
};

// The SOA content with its serial (the third field) one higher, modulo 2^32 as RFC 1982 counts, and
// every other byte as it was; nothing when the content has no such serial.
std::optional<std::string> WithNextSerial(const std::string& soaContent);

}  // namespace hw::service
