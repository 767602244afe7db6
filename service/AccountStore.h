#pragma once
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "service/SqlDatabase.h"

namespace hw::service {

struct Account {
  std::string name;
  std::string passwordHash;  // libsodium's crypto_pwhash string: salted, slow
  std::string machineId;     // the machine the name is bound to
  std::string address;       // the last address a query came from (its records may hold others)
  std::int64_t updated = 0;  // when, in seconds of the service's clock
  std::string verifiedDigest{};  // of the password once verified (VerifiedPasswords); empty: none yet
};

enum class AddressChange { Unchanged, Changed, AccountGone };

// The accounts and their DNS records, in the database that the DNS server reads: every account has
// an A record, an AAAA record or both, named <account><suffix> in the zone of the suffix, with a
// short time to live. Each record follows the updates over its own family only, so that a machine
// reached over both keeps both; every change raises the zone's SOA serial so secondaries follow. The
// service changes only the records it wrote (it keeps their ids) and, of the SOA, only the serial.
// Every change of an account and of its record is one transaction.
class AccountStore {
 public:
  static constexpr int kRecordTtl = 60;

  // Makes the DNS server's tables (from its backend's schema file) and the service's own when they
  // are missing, and the zone with its SOA and NS records. A zone that exists but was not made by
  // the service is refused (DatabaseError) unless `adoptZone`.
  AccountStore(std::unique_ptr<SqlDatabase> database, const std::string& schemaFile, std::string domainSuffix,
               bool adoptZone = false);

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

 private:
  void EnsureSchema(const std::string& schemaFile);
  void EnsureZone(bool adopt);
  void ClaimAccountRecords();
  // Points the account's record of the address's family at it; false when it did already.
  bool WriteRecord(const std::string& name, const std::string& address);
  bool IsTakenLocked(const std::string& name);
  void RemoveRecords(const std::string& name);
  void BumpSerial();
  // Runs the body in one transaction; rolled back when it throws.
  template <typename Body>
  auto InTransaction(Body body);

  std::unique_ptr<SqlDatabase> db_;
  std::string domainSuffix_;  // ".hostwarden.test"
  std::string zone_;          // "hostwarden.test"
  std::string zoneId_;
  std::mutex mutex_;  // one statement at a time on the one connection
};

// The SOA content with its serial (the third field) one higher, modulo 2^32 as RFC 1982 counts, and
// every other byte as it was; nothing when the content has no such serial.
std::optional<std::string> WithNextSerial(const std::string& soaContent);

}  // namespace hw::service
