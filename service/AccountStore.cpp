#include "service/AccountStore.h"

#include <ctime>
#include <fstream>
#include <iterator>
#include <sstream>

#include "service/ClientAddress.h"

namespace hw::service {
namespace {

constexpr const char* kAccountsTable =
    "CREATE TABLE IF NOT EXISTS ddns_accounts (name VARCHAR(16) PRIMARY KEY, password_hash TEXT NOT NULL,"
    " machine_id VARCHAR(12) NOT NULL, address VARCHAR(64) NOT NULL, updated BIGINT NOT NULL)";
// The DNS records this service wrote, by the account they belong to: the only ones it ever changes.
constexpr const char* kRecordsTable =
    "CREATE TABLE IF NOT EXISTS ddns_records (record_id BIGINT PRIMARY KEY, account VARCHAR(16) NOT NULL)";
// Every check looks an account's records up by its name; made also in a database of an earlier
// version, which had no such index.
constexpr const char* kRecordsIndex = "CREATE INDEX IF NOT EXISTS ddns_records_account ON ddns_records (account)";
// The digest of each account's password once verified: a check finds it with the account, in every
// instance and after a restart. Made also in a database of an earlier version, which had none.
constexpr const char* kVerifiedTable =
    "CREATE TABLE IF NOT EXISTS ddns_verified (name VARCHAR(16) PRIMARY KEY, digest VARCHAR(64) NOT NULL)";
// When each zone's serial was last raised, in seconds of the wall clock, and whether a change since
// waits for the next rise (1): the instances on one database raise it at most once a second between
// them, and the row's lock orders a change's "owed" against another instance's rise.
constexpr const char* kSerialTable =
    "CREATE TABLE IF NOT EXISTS ddns_serial (zone VARCHAR(255) PRIMARY KEY, raised BIGINT NOT NULL,"
    " owed INTEGER NOT NULL DEFAULT 0)";
// Which accounts changed when (in seconds of the wall clock): every instance forgets what it holds
// in memory of them. Kept for a minute.
constexpr const char* kChangesTable =
    "CREATE TABLE IF NOT EXISTS ddns_changes (account VARCHAR(16) NOT NULL, at BIGINT NOT NULL)";
constexpr const char* kChangesIndex = "CREATE INDEX IF NOT EXISTS ddns_changes_at ON ddns_changes (at)";
constexpr std::int64_t kChangesKeptSeconds = 60;
// The zones this service made, or was told to adopt.
constexpr const char* kZonesTable = "CREATE TABLE IF NOT EXISTS ddns_zones (name VARCHAR(255) PRIMARY KEY)";

std::string ReadSchema(const std::string& file) {
  std::ifstream in(file);
  if (!in) throw DatabaseError("cannot read the DNS server's schema " + file);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// An account from the columns name, password_hash, machine_id, address, updated and the digest.
Account AccountOf(const SqlRow& row) { return Account{row[0], row[1], row[2], row[3], std::stoll(row[4]), row[5]}; }

std::string SoaContent(const std::string& zone, std::int64_t serial) {
  return "ns." + zone + " hostmaster." + zone + " " + std::to_string(serial) + " 10800 3600 604800 " +
         std::to_string(AccountStore::kRecordTtl);
}

}  // namespace

template <typename Body>
auto AccountStore::InTransaction(Body body) {
  db_->Query("BEGIN");
  try {
    auto result = body();
    db_->Query("COMMIT");
    return result;
  } catch (...) {
    try {
      db_->Query("ROLLBACK");
    } catch (const DatabaseError&) {
    }
    throw;
  }
}

AccountStore::AccountStore(std::unique_ptr<SqlDatabase> database, const std::string& schemaFile,
                           std::string domainSuffix, bool adoptZone, Budget recordChanges)
    : db_(std::move(database)),
      domainSuffix_(std::move(domainSuffix)),
      zone_(domainSuffix_.starts_with('.') ? domainSuffix_.substr(1) : domainSuffix_),
      wallClock_([] { return static_cast<std::int64_t>(std::time(nullptr)); }),
      // The database's own time in whole seconds (on PostgreSQL the moment of the statement, not of
      // its transaction's start).
      databaseNow_(db_->Kind() == "sqlite" ? "CAST(strftime('%s', 'now') AS INTEGER)"
                                           : "CAST(extract(epoch FROM clock_timestamp()) AS BIGINT)"),
      recordChanges_(recordChanges, 1000000) {
  // A database of an earlier version of this service: its zone and its accounts' records are its own.
  const bool earlierVersion = db_->HasTable("ddns_accounts") && !db_->HasTable("ddns_zones");
  EnsureSchema(schemaFile);
  EnsureZone(adoptZone || earlierVersion);
  if (earlierVersion) ClaimAccountRecords();
}

void AccountStore::EnsureSchema(const std::string& schemaFile) {
  if (!db_->HasTable("domains")) db_->RunScript(ReadSchema(schemaFile));
  for (const char* statement : {kAccountsTable, kRecordsTable, kRecordsIndex, kZonesTable, kVerifiedTable, kSerialTable,
                                kChangesTable, kChangesIndex})
    db_->Query(statement);
  // The serial's table of the version before "owed" (its other column is as it was).
  if (!db_->HasColumn("ddns_serial", "owed")) db_->Query("ALTER TABLE ddns_serial ADD COLUMN owed INTEGER NOT NULL DEFAULT 0");
}

void AccountStore::EnsureZone(bool adopt) {
  auto rows = db_->Query("SELECT id FROM domains WHERE name = $1", {zone_});
  if (rows.empty()) {
    db_->Query("INSERT INTO domains (name, type) VALUES ($1, 'NATIVE')", {zone_});
    rows = db_->Query("SELECT id FROM domains WHERE name = $1", {zone_});
    const auto add = [&](const char* type, const std::string& content) {
      db_->Query(
          "INSERT INTO records (domain_id, name, type, content, ttl, prio, disabled, auth)"
          " VALUES ($1, $2, $3, $4, $5, 0, FALSE, TRUE)",
          {rows.at(0).at(0), zone_, type, content, std::to_string(kRecordTtl)});
    };
    add("SOA", SoaContent(zone_, 1));
    add("NS", "ns." + zone_);
    adopt = true;
  }
  if (db_->Query("SELECT 1 FROM ddns_zones WHERE name = $1", {zone_}).empty()) {
    if (!adopt)
      throw DatabaseError("the zone " + zone_ +
                          " exists but was not made by this service; start it with --adopt-zone to work in it"
                          " (its records stay untouched, only its SOA serial follows the changes)");
    db_->Query("INSERT INTO ddns_zones (name) VALUES ($1)", {zone_});
  }
  zoneId_ = rows.at(0).at(0);
  db_->Query("INSERT INTO ddns_serial (zone, raised) VALUES ($1, 0) ON CONFLICT DO NOTHING", {zone_});
}

void AccountStore::ClaimAccountRecords() {
  db_->Query(
      "INSERT INTO ddns_records (record_id, account) SELECT r.id, a.name FROM records r JOIN ddns_accounts a"
      " ON r.name = a.name || $2 WHERE r.domain_id = $1 AND r.type IN ('A', 'AAAA')",
      {zoneId_, domainSuffix_});
}

std::optional<Account> AccountStore::Find(const std::string& name) {
  const std::lock_guard lock(mutex_);
  const auto rows = db_->Query(
      "SELECT a.name, a.password_hash, a.machine_id, a.address, a.updated, v.digest FROM ddns_accounts a"
      " LEFT JOIN ddns_verified v ON v.name = a.name WHERE a.name = $1",
      {name});
  if (rows.empty()) return std::nullopt;
  return AccountOf(rows.front());
}

std::int64_t AccountStore::Count() {
  const std::lock_guard lock(mutex_);
  return std::stoll(db_->Query("SELECT count(*) FROM ddns_accounts").at(0).at(0));
}

bool AccountStore::IsTakenLocked(const std::string& name) {
  // A name that holds records of someone else's (an administrator's www, say) is taken too.
  return !db_->Query("SELECT 1 FROM ddns_accounts WHERE name = $1", {name}).empty() ||
         !db_->Query("SELECT 1 FROM records WHERE domain_id = $1 AND name = $2", {zoneId_, HostName(name)}).empty();
}

bool AccountStore::IsTaken(const std::string& name) {
  const std::lock_guard lock(mutex_);
  return IsTakenLocked(name);
}

void AccountStore::RememberVerified(const Account& authorised, const std::string& digest) {
  const std::lock_guard lock(mutex_);
  cache_.Forget(authorised.name);  // the next change or read puts it back with its digest
  db_->Query(
      "INSERT INTO ddns_verified (name, digest) SELECT name, $3 FROM ddns_accounts WHERE name = $1"
      " AND password_hash = $2 ON CONFLICT (name) DO UPDATE SET digest = excluded.digest",
      {authorised.name, authorised.passwordHash, digest});
}

bool AccountStore::Create(const Account& account) {
  const std::lock_guard lock(mutex_);
  return InTransaction([&] {
    if (IsTakenLocked(account.name)) return false;
    // The loser of two registrations at once (two instances on one PostgreSQL) is simply refused.
    const auto inserted = db_->Query(
        "INSERT INTO ddns_accounts (name, password_hash, machine_id, address, updated) VALUES ($1, $2, $3, $4, $5)"
        " ON CONFLICT DO NOTHING RETURNING name",
        {account.name, account.passwordHash, account.machineId, account.address, std::to_string(account.updated)});
    if (inserted.empty()) return false;
    // A digest left by an account of this name that went without a release of ours goes with it.
    db_->Query("DELETE FROM ddns_verified WHERE name = $1", {account.name});
    if (!account.verifiedDigest.empty())
      db_->Query("INSERT INTO ddns_verified (name, digest) VALUES ($1, $2)", {account.name, account.verifiedDigest});
    waiting_.erase(account.name);
    WriteRecord(account.name, account.address);
    RaiseSerial();
    Announce(account.name);
    return true;
  });
}

AddressChange AccountStore::SetAddresses(const Account& authorised, const std::vector<std::string>& addresses,
                                         const std::string& from, std::int64_t time) {
  const std::lock_guard lock(mutex_);
  struct Outcome {
    AddressChange change = AddressChange::Unchanged;
    std::vector<std::string> waiting;  // changes beyond the account's budget, for CatchUp
  };
  const Outcome outcome = InTransaction([&] {
    // Only the account row that was authorised: released (or registered anew) meanwhile, it is gone.
    const auto rows = db_->Query(
        "UPDATE ddns_accounts SET address = $1, updated = $2 WHERE name = $3 AND password_hash = $4"
        " AND machine_id = $5 RETURNING name",
        {from, std::to_string(time), authorised.name, authorised.passwordHash, authorised.machineId});
    if (rows.empty()) return Outcome{AddressChange::AccountGone, {}};
    std::vector<std::string> changing;
    for (const std::string& address : addresses)
      if (RecordDiffers(authorised.name, address)) changing.push_back(address);
    if (changing.empty()) return Outcome{};
    // Beyond the budget: answered as it will be, once CatchUp writes it.
    if (!recordChanges_.TakeAll({authorised.name}, TokenBuckets::Clock::now()))
      return Outcome{AddressChange::Changed, changing};
    for (const std::string& address : changing) WriteRecord(authorised.name, address);
    RaiseSerial();
    Announce(authorised.name);
    return Outcome{AddressChange::Changed, {}};
  });
  if (outcome.change != AddressChange::AccountGone) Wait(authorised, addresses, outcome.waiting, time);
  // In memory only while nothing waits for it: a check from the old address must not be answered
  // "unchanged" from memory while a change to another one is still to be written.
  if (outcome.change == AddressChange::AccountGone || waiting_.contains(authorised.name)) cache_.Forget(authorised.name);
  else Remember(authorised);
  return outcome.change;
}

// Once the update is committed: its addresses take the place of any that wait for the same families,
// and those beyond the budget wait.
void AccountStore::Wait(const Account& authorised, const std::vector<std::string>& addresses,
                        const std::vector<std::string>& waiting, std::int64_t time) {
  const auto found = waiting_.find(authorised.name);
  if (found != waiting_.end()) {
    for (const std::string& address : addresses) found->second.addressByFamily.erase(IsIpv6(RecordForm(address)));
    found->second.updated = time;
    if (found->second.addressByFamily.empty()) waiting_.erase(found);
  }
  if (waiting.empty()) return;
  WaitingChange& change = waiting_[authorised.name];
  change.authorised = authorised;
  change.updated = time;
  for (const std::string& address : waiting) change.addressByFamily[IsIpv6(RecordForm(address))] = address;
}

void AccountStore::Remember(const Account& authorised) {
  CachedAccount entry{authorised, {}, {}};
  for (const SqlRow& row : db_->Query("SELECT r.type, r.content FROM records r JOIN ddns_records d ON d.record_id = r.id"
                                      " WHERE d.account = $1",
                                      {authorised.name}))
    (row.at(0) == "AAAA" ? entry.recordAaaa : entry.recordA) = row.at(1);
  cache_.Put(entry);
}

std::size_t AccountStore::WarmUp() {
  const std::lock_guard lock(mutex_);
  std::unordered_map<std::string, CachedAccount> entries;
  for (const SqlRow& row : db_->Query(
           "SELECT a.name, a.password_hash, a.machine_id, a.address, a.updated, v.digest, r.type, r.content"
           " FROM ddns_accounts a JOIN ddns_verified v ON v.name = a.name"
           " LEFT JOIN ddns_records d ON d.account = a.name LEFT JOIN records r ON r.id = d.record_id LIMIT $1",
           {std::to_string(2 * AccountCache::kMaxAccounts)})) {
    CachedAccount& entry = entries[row.at(0)];
    entry.account = AccountOf(row);
    if (row[6] == "A") entry.recordA = row[7];
    if (row[6] == "AAAA") entry.recordAaaa = row[7];
  }
  for (auto& [name, entry] : entries) cache_.Put(std::move(entry));
  return cache_.Size();
}

void AccountStore::Announce(const std::string& name) {
  cache_.Forget(name);
  db_->Query("INSERT INTO ddns_changes (account, at) VALUES ($1, " + databaseNow_ + ")", {name});
}

void AccountStore::NoteSeen(const Account& authorised, const std::string& from, std::int64_t time) {
  const std::lock_guard lock(seenMutex_);
  seen_.insert_or_assign(authorised.name, Seen{authorised, from, time});
}

void AccountStore::WriteSeen() {
  std::unordered_map<std::string, Seen> batch;
  {
    const std::lock_guard lock(seenMutex_);
    batch.swap(seen_);
  }
  if (batch.empty()) return;
  try {
    InTransaction([&] {
      for (const auto& [name, seen] : batch)
        db_->Query("UPDATE ddns_accounts SET address = $1, updated = $2 WHERE name = $3 AND password_hash = $4"
                   " AND machine_id = $5 AND updated <= $2",
                   {seen.from, std::to_string(seen.time), name, seen.authorised.passwordHash, seen.authorised.machineId});
      return true;
    });
  } catch (...) {
    // Kept for the next try; what was noted since is newer and wins.
    const std::lock_guard lock(seenMutex_);
    seen_.merge(batch);
    throw;
  }
}

void AccountStore::FollowChanges() {
  const std::lock_guard lock(mutex_);
  // Not followed for as long as the feed looks back (the database gone for a while, or this instance
  // held up): changes of other instances may have been missed, so memory answers nothing it holds.
  const auto followed = std::chrono::steady_clock::now();
  if (followed - followedAt_ >= std::chrono::seconds(kChangesFollowedSeconds)) cache_.ForgetAll();
  // By the database's clock, which every instance shares, whatever their own clocks say.
  for (const SqlRow& row : db_->Query("SELECT DISTINCT account FROM ddns_changes WHERE at >= " + databaseNow_ + " - $1",
                                      {std::to_string(kChangesFollowedSeconds)}))
    cache_.Forget(row.at(0));
  followedAt_ = followed;
  const std::int64_t now = wallClock_();
  if (now - prunedAt_ >= kChangesKeptSeconds) {
    db_->Query("DELETE FROM ddns_changes WHERE at < " + databaseNow_ + " - $1", {std::to_string(kChangesKeptSeconds)});
    prunedAt_ = now;
  }
}

void AccountStore::Remove(const Account& authorised) {
  const std::lock_guard lock(mutex_);
  const bool removed = InTransaction([&] {
    if (db_->Query("DELETE FROM ddns_accounts WHERE name = $1 AND password_hash = $2 AND machine_id = $3 RETURNING name",
                   {authorised.name, authorised.passwordHash, authorised.machineId})
            .empty())
      return false;  // gone already
    db_->Query("DELETE FROM ddns_verified WHERE name = $1", {authorised.name});
    RemoveRecords(authorised.name);
    RaiseSerial();
    Announce(authorised.name);
    return true;
  });
  if (removed) waiting_.erase(authorised.name);  // once committed: a failed release leaves its change waiting
}

void AccountStore::RemoveRecords(const std::string& name) {
  db_->Query("DELETE FROM records WHERE id IN (SELECT record_id FROM ddns_records WHERE account = $1)", {name});
  db_->Query("DELETE FROM ddns_records WHERE account = $1", {name});
}

bool AccountStore::RecordDiffers(const std::string& name, const std::string& address) {
  const std::string content = RecordForm(address);
  const auto current = db_->Query(
      "SELECT r.content FROM records r JOIN ddns_records d ON d.record_id = r.id WHERE d.account = $1 AND r.type = $2",
      {name, IsIpv6(content) ? "AAAA" : "A"});
  return !(current.size() == 1 && current.front().at(0) == content);
}

bool AccountStore::WriteRecord(const std::string& name, const std::string& address) {
  const std::string content = RecordForm(address);
  const char* type = IsIpv6(content) ? "AAAA" : "A";
  // Compared with the record itself, not with the last address of either family: a machine that
  // checks over both families in turn changes nothing.
  const auto current = db_->Query(
      "SELECT r.id, r.content FROM records r JOIN ddns_records d ON d.record_id = r.id"
      " WHERE d.account = $1 AND r.type = $2",
      {name, type});
  if (current.size() == 1 && current.front().at(1) == content) return false;
  for (const SqlRow& row : current) {
    db_->Query("DELETE FROM records WHERE id = $1", {row.at(0)});
    db_->Query("DELETE FROM ddns_records WHERE record_id = $1", {row.at(0)});
  }
  const auto written = db_->Query(
      "INSERT INTO records (domain_id, name, type, content, ttl, prio, disabled, auth)"
      " VALUES ($1, $2, $3, $4, $5, 0, FALSE, TRUE) RETURNING id",
      {zoneId_, HostName(name), type, content, std::to_string(kRecordTtl)});
  db_->Query("INSERT INTO ddns_records (record_id, account) VALUES ($1, $2)", {written.at(0).at(0), name});
  return true;
}

void AccountStore::BumpSerial() {
  // The row is locked first (a write that changes nothing), so that changes made at once by two
  // instances each raise the serial, one after the other.
  db_->Query("UPDATE records SET content = content WHERE domain_id = $1 AND type = 'SOA'", {zoneId_});
  for (const SqlRow& row : db_->Query("SELECT id, content FROM records WHERE domain_id = $1 AND type = 'SOA'", {zoneId_}))
    if (const auto next = WithNextSerial(row.at(1)))
      db_->Query("UPDATE records SET content = $1 WHERE id = $2", {*next, row.at(0)});
}

// Within the change's transaction. A rise clears what was owed: every change committed before it is
// covered. Otherwise the change is owed a rise; on PostgreSQL that write waits for a rise under way
// elsewhere to commit, so an owed change is never taken for covered by a rise that came before it.
void AccountStore::RaiseSerial() {
  const std::string now = std::to_string(wallClock_());
  if (!db_->Query("UPDATE ddns_serial SET raised = $1, owed = 0 WHERE zone = $2 AND raised < $1 RETURNING zone",
                  {now, zone_})
           .empty())
    BumpSerial();
  else
    db_->Query("UPDATE ddns_serial SET owed = 1 WHERE zone = $1", {zone_});
}

// What any instance owed, in a later second. The flag is in the database: a restart or a failed
// transaction loses nothing, and whichever instance comes first raises it.
void AccountStore::CatchUpSerial() {
  // Read first: nothing owed, the usual case, takes no write lock.
  if (db_->Query("SELECT 1 FROM ddns_serial WHERE zone = $1 AND owed = 1", {zone_}).empty()) return;
  InTransaction([&] {
    if (!db_->Query("UPDATE ddns_serial SET raised = $1, owed = 0 WHERE zone = $2 AND owed = 1 AND raised < $1"
                    " RETURNING zone",
                    {std::to_string(wallClock_()), zone_})
             .empty())
      BumpSerial();
    return true;
  });
}

void AccountStore::WriteWaitingRecords(bool all) {
  for (auto change = waiting_.begin(); change != waiting_.end();) {
    if (!all && !recordChanges_.TakeAll({change->first}, TokenBuckets::Clock::now())) {
      ++change;
      continue;
    }
    const WaitingChange& waiting = change->second;
    InTransaction([&] {
      // Only while the account is as it was when the change waited: another instance's later check
      // (a newer "updated"), a release or a new registration has the last word.
      if (db_->Query("SELECT 1 FROM ddns_accounts WHERE name = $1 AND password_hash = $2 AND machine_id = $3"
                     " AND updated = $4",
                     {waiting.authorised.name, waiting.authorised.passwordHash, waiting.authorised.machineId,
                      std::to_string(waiting.updated)})
              .empty())
        return false;
      bool changed = false;
      for (const auto& [ipv6, address] : waiting.addressByFamily) changed = WriteRecord(change->first, address) || changed;
      if (changed) RaiseSerial();
      Announce(change->first);
      return changed;
    });
    change = waiting_.erase(change);
  }
}

void AccountStore::CatchUp() {
  const std::lock_guard lock(mutex_);
  WriteSeen();
  WriteWaitingRecords(false);
  CatchUpSerial();
}

void AccountStore::Flush() {
  const std::lock_guard lock(mutex_);
  WriteWaitingRecords(true);  // first: their clients were told "changed"; the serial owed is in the database
  WriteSeen();
}

std::size_t AccountStore::WaitingChanges() {
  const std::lock_guard lock(mutex_);
  return waiting_.size();
}

std::optional<std::string> WithNextSerial(const std::string& soaContent) {
  // The third field, found where it stands so that the administrator's text stays as it is around it.
  std::size_t start = 0, end = 0;
  for (int field = 0; field < 3; ++field) {
    start = soaContent.find_first_not_of(' ', end);
    if (start == std::string::npos) return std::nullopt;
    end = std::min(soaContent.find(' ', start), soaContent.size());
  }
  const std::string digits = soaContent.substr(start, end - start);
  if (digits.empty() || digits.size() > 10 || digits.find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  const std::uint64_t serial = std::stoull(digits);
  if (serial > 0xFFFFFFFFu) return std::nullopt;
  const std::uint32_t next = static_cast<std::uint32_t>(serial) + 1u;  // RFC 1982: modulo 2^32
  return soaContent.substr(0, start) + std::to_string(next) + soaContent.substr(end);
}

}  // namespace hw::service
