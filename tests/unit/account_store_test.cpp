// The service's accounts and DNS records: only its own records change, every change is whole, and
// two instances on one PostgreSQL database neither fail nor lose a serial step.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <latch>
#include <sstream>
#include <thread>

#include "fixtures/RunningService.h"
#include "fixtures/TempDir.h"
#include "service/AccountStore.h"
#include "service/SqlDatabase.h"

namespace {

using hw::service::Account;
using hw::service::AccountStore;
using hw::service::AddressChange;
using hw::service::OpenDatabase;

constexpr const char* kSqliteSchema = "/usr/share/pdns-backend-sqlite3/schema/schema.sqlite3.sql";
constexpr const char* kPostgresSchema = "/usr/share/pdns-backend-pgsql/schema/schema.pgsql.sql";

Account AccountNamed(const std::string& name, const std::string& address = "203.0.113.1") {
  return Account{name, "hash-of-" + name, "001122334455", address, 0};
}

// Every record of the zone as "name type content", in a fixed order.
std::vector<std::string> Records(hw::service::SqlDatabase& db) {
  std::vector<std::string> records;
  for (const auto& row : db.Query("SELECT name, type, content FROM records ORDER BY name, type, content"))
    records.push_back(row[0] + " " + row[1] + " " + row[2]);
  return records;
}

// A zone that an administrator keeps: their SOA and a www name with records of every kind.
class ForeignZone : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ifstream schema(kSqliteSchema);
    admin->RunScript(std::string(std::istreambuf_iterator<char>(schema), std::istreambuf_iterator<char>()));
    admin->Query("INSERT INTO domains (name, type) VALUES ('hostwarden.test', 'NATIVE')");
    for (const auto& [name, type, content] : std::vector<std::array<std::string, 3>>{
             {"hostwarden.test", "SOA", "a.example. admin.example. 2024010101 7200 900 1209600 300"},
             {"www.hostwarden.test", "A", "192.0.2.80"},
             {"www.hostwarden.test", "MX", "mail.example."},
             {"www.hostwarden.test", "TXT", "\"v=spf1 -all\""}})
      admin->Query("INSERT INTO records (domain_id, name, type, content, ttl, prio, disabled, auth)"
                   " VALUES (1, $1, $2, $3, 3600, 0, FALSE, TRUE)",
                   {name, type, content});
  }
  std::unique_ptr<AccountStore> Store(bool adopt) {
    return std::make_unique<AccountStore>(OpenDatabase(database), kSqliteSchema, ".hostwarden.test", adopt);
  }
  std::string Soa() { return admin->Query("SELECT content FROM records WHERE type = 'SOA'").at(0).at(0); }

  hwtest::TempDir folder;
  std::string database = "sqlite:" + folder.File("dns.db");
  std::unique_ptr<hw::service::SqlDatabase> admin = OpenDatabase(database);
};

TEST_F(ForeignZone, TheServiceChangesOnlyItsOwnRecordsAndTheSerial) {
  try {
    Store(false);
    ADD_FAILURE() << "a zone the service did not make needs --adopt-zone";
  } catch (const hw::service::DatabaseError& error) {
    EXPECT_NE(std::string(error.what()).find("--adopt-zone"), std::string::npos) << error.what();
  }
  const auto store = Store(true);
  const std::vector<std::string> before = Records(*admin);
  EXPECT_FALSE(store->Create(AccountNamed("www"))) << "a name with records of someone else's is taken";
  EXPECT_EQ(Records(*admin), before);

  ASSERT_TRUE(store->Create(AccountNamed("alice")));
  EXPECT_EQ(Soa(), "a.example. admin.example. 2024010102 7200 900 1209600 300");
  admin->Query("INSERT INTO records (domain_id, name, type, content, ttl, prio, disabled, auth)"
               " VALUES (1, 'alice.hostwarden.test', 'MX', 'mail.example.', 3600, 0, FALSE, TRUE)");
  ASSERT_EQ(store->SetAddress(*store->Find("alice"), "198.51.100.4", 1), AddressChange::Changed);
  store->Remove(*store->Find("alice"));
  std::vector<std::string> after = before;
  after.insert(after.begin(), "alice.hostwarden.test MX mail.example.");  // the administrator's, kept
  after[1] = "hostwarden.test SOA a.example. admin.example. 2024010104 7200 900 1209600 300";
  EXPECT_EQ(Records(*admin), after);
}

// A release that comes between a check's authorisation and its write wins: the check writes nothing.
// So does a registration anew of the name by another machine.
TEST(AccountStoreChanges, ACheckOfAnAccountThatIsGoneWritesNothing) {
  hwtest::TempDir folder;
  const std::string database = "sqlite:" + folder.File("dns.db");
  AccountStore store(OpenDatabase(database), kSqliteSchema, ".hostwarden.test");
  ASSERT_TRUE(store.Create(AccountNamed("alice")));
  const Account checked = *store.Find("alice");
  store.Remove(checked);
  EXPECT_EQ(store.SetAddress(checked, "198.51.100.9", 1), AddressChange::AccountGone);
  const auto db = OpenDatabase(database);
  EXPECT_TRUE(db->Query("SELECT 1 FROM records WHERE name = 'alice.hostwarden.test'").empty());

  Account anew = AccountNamed("alice", "192.0.2.7");
  anew.machineId = "AABBCCDDEEFF";
  ASSERT_TRUE(store.Create(anew));
  EXPECT_EQ(store.SetAddress(checked, "198.51.100.9", 2), AddressChange::AccountGone);
  EXPECT_EQ(db->Query("SELECT content FROM records WHERE name = 'alice.hostwarden.test'").at(0).at(0), "192.0.2.7");
}

TEST(SoaSerial, RisesByOneModulo2To32AndLeavesTheRestAsItWas) {
  const std::pair<const char*, const char*> cases[] = {
      {"ns.z hostmaster.z 1 10800 3600 604800 60", "ns.z hostmaster.z 2 10800 3600 604800 60"},
      {"a.  b.  2024010199  7200 900", "a.  b.  2024010200  7200 900"},
      {"a. b. 4294967295 1 2 3 4", "a. b. 0 1 2 3 4"},
  };
  for (const auto& [before, after] : cases) EXPECT_EQ(hw::service::WithNextSerial(before), after) << before;
  for (const char* broken : {"a. b.", "a. b. x1 2", "a. b. 4294967296 1", ""})
    EXPECT_FALSE(hw::service::WithNextSerial(broken).has_value()) << broken;
}

// Two instances of the service on one PostgreSQL database, in a database of the test's own.
class TwoInstances : public ::testing::Test {
 protected:
  void SetUp() override {
    HW_TEST_POSTGRES_OR_SKIP(server);
    name_ = "hw_instances_" + std::to_string(::getpid());
    OpenDatabase(server)->Query("CREATE DATABASE " + name_);
    database_ = server + " dbname=" + name_;  // the last dbname counts
    first_ = std::make_unique<AccountStore>(OpenDatabase(database_), kPostgresSchema, ".hostwarden.test");
    second_ = std::make_unique<AccountStore>(OpenDatabase(database_), kPostgresSchema, ".hostwarden.test");
  }
  void TearDown() override {
    if (name_.empty()) return;
    first_.reset();
    second_.reset();
    OpenDatabase(hwtest::TestPostgres())->Query("DROP DATABASE IF EXISTS " + name_);
  }
  std::uint64_t Serial() {
    const std::string soa = OpenDatabase(database_)->Query("SELECT content FROM records WHERE type = 'SOA'").at(0).at(0);
    std::istringstream fields(soa);
    std::string skip;
    std::uint64_t serial = 0;
    fields >> skip >> skip >> serial;
    return serial;
  }
  // Runs both at the same moment, each on its own thread.
  static void AtOnce(const std::function<void()>& one, const std::function<void()>& other) {
    std::latch start(2);
    std::thread a([&] { start.arrive_and_wait(), one(); });
    std::thread b([&] { start.arrive_and_wait(), other(); });
    a.join();
    b.join();
  }

  std::string name_, database_;
  std::unique_ptr<AccountStore> first_, second_;
};

TEST_F(TwoInstances, SimultaneousChangesNeitherFailNorLoseASerialStep) {
  const std::uint64_t serial = Serial();
  for (int round = 0; round < 30; ++round) {
    const std::string name = "race" + std::to_string(round);
    int created = 0;
    AtOnce([&] { created += first_->Create(AccountNamed(name)); }, [&] { created += second_->Create(AccountNamed(name)); });
    EXPECT_EQ(created, 1) << name << ": one wins, the other is refused";
  }
  const Account a = *first_->Find("race0"), b = *first_->Find("race1");
  AtOnce(
      [&] {
        for (int change = 0; change < 30; ++change) first_->SetAddress(a, "198.51.100." + std::to_string(change % 2), 1);
      },
      [&] {
        for (int change = 0; change < 30; ++change) second_->SetAddress(b, "198.51.100." + std::to_string(change % 2), 1);
      });
  EXPECT_EQ(Serial(), serial + 30 + 60) << "one step for each registration and each change";
}

}  // namespace
