#include "service/AccountStore.h"

#include <fstream>
#include <iterator>
#include <sstream>

namespace hw::service {
namespace {

constexpr const char* kAccountsTable =
    "CREATE TABLE IF NOT EXISTS ddns_accounts (name VARCHAR(16) PRIMARY KEY, password_hash TEXT NOT NULL,"
    " machine_id VARCHAR(12) NOT NULL, address VARCHAR(64) NOT NULL, updated BIGINT NOT NULL)";

std::string ReadSchema(const std::string& file) {
  std::ifstream in(file);
  if (!in) throw DatabaseError("cannot read the DNS server's schema " + file);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool IsIpv6(const std::string& address) { return address.find(':') != std::string::npos; }

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
                           std::string domainSuffix)
    : db_(std::move(database)),
      domainSuffix_(std::move(domainSuffix)),
      zone_(domainSuffix_.starts_with('.') ? domainSuffix_.substr(1) : domainSuffix_) {
  EnsureSchema(schemaFile);
  EnsureZone();
}

void AccountStore::EnsureSchema(const std::string& schemaFile) {
  if (!db_->HasTable("domains")) db_->RunScript(ReadSchema(schemaFile));
  db_->Query(kAccountsTable);
}

void AccountStore::EnsureZone() {
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
  }
  zoneId_ = rows.at(0).at(0);
}

std::optional<Account> AccountStore::Find(const std::string& name) {
  const std::lock_guard lock(mutex_);
  const auto rows =
      db_->Query("SELECT name, password_hash, machine_id, address, updated FROM ddns_accounts WHERE name = $1", {name});
  if (rows.empty()) return std::nullopt;
  const SqlRow& row = rows.front();
  return Account{row[0], row[1], row[2], row[3], std::stoll(row[4])};
}

bool AccountStore::Create(const Account& account) {
  const std::lock_guard lock(mutex_);
  return InTransaction([&] {
    if (!db_->Query("SELECT 1 FROM ddns_accounts WHERE name = $1", {account.name}).empty()) return false;
    db_->Query(
        "INSERT INTO ddns_accounts (name, password_hash, machine_id, address, updated) VALUES ($1, $2, $3, $4, $5)",
        {account.name, account.passwordHash, account.machineId, account.address, std::to_string(account.updated)});
    WriteRecord(account.name, account.address);
    BumpSerial();
    return true;
  });
}

bool AccountStore::SetAddress(const std::string& name, const std::string& address, std::int64_t time) {
  const std::lock_guard lock(mutex_);
  return InTransaction([&] {
    const auto rows = db_->Query("SELECT address FROM ddns_accounts WHERE name = $1", {name});
    const bool changed = rows.empty() || rows.front().front() != address;
    db_->Query("UPDATE ddns_accounts SET address = $1, updated = $2 WHERE name = $3",
               {address, std::to_string(time), name});
    if (changed) {
      WriteRecord(name, address);
      BumpSerial();
    }
    return changed;
  });
}

void AccountStore::Remove(const std::string& name) {
  const std::lock_guard lock(mutex_);
  InTransaction([&] {
    db_->Query("DELETE FROM ddns_accounts WHERE name = $1", {name});
    db_->Query("DELETE FROM records WHERE domain_id = $1 AND name = $2", {zoneId_, HostName(name)});
    BumpSerial();
    return true;
  });
}

void AccountStore::WriteRecord(const std::string& name, const std::string& address) {
  db_->Query("DELETE FROM records WHERE domain_id = $1 AND name = $2 AND type IN ('A', 'AAAA')",
             {zoneId_, HostName(name)});
  db_->Query(
      "INSERT INTO records (domain_id, name, type, content, ttl, prio, disabled, auth)"
      " VALUES ($1, $2, $3, $4, $5, 0, FALSE, TRUE)",
      {zoneId_, HostName(name), IsIpv6(address) ? "AAAA" : "A", address, std::to_string(kRecordTtl)});
}

void AccountStore::BumpSerial() {
  const auto rows = db_->Query("SELECT content FROM records WHERE domain_id = $1 AND type = 'SOA'", {zoneId_});
  std::int64_t serial = 0;
  if (!rows.empty()) {
    std::istringstream fields(rows.front().front());
    std::string skip;
    fields >> skip >> skip >> serial;
  }
  db_->Query("UPDATE records SET content = $1 WHERE domain_id = $2 AND type = 'SOA'",
             {SoaContent(zone_, serial + 1), zoneId_});
}

}  // namespace hw::service
