// The service's accounts and DNS records: only its own records change, every change is whole, and
// two instances on one PostgreSQL database neither fail nor lose a serial step.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <latch>
#include <sstream>
#include <thread>

#include "fixtures/RunningService.h"
#include "fixtures/ScratchDatabase.h"
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

// A clock for the serial that moves on a second at every reading: each change raises the serial.
std::function<std::int64_t()> Ticking() {
  return [tick = std::int64_t{1000}]() mutable { return ++tick; };
}

// Room for every record change a test makes.
constexpr hw::service::Budget kNoChangeLimit{1000, std::chrono::seconds(1)};

Account AccountNamed(const std::string& name, const std::string& address = "203.0.113.1") {
  return Account{name, "hash-of-" + name, "001122334455", address, 0};
}

// The records of one name as "type content", A before AAAA.
std::string RecordsOf(hw::service::SqlDatabase& db, const std::string& name) {
  std::string records;
  for (const auto& row : db.Query("SELECT type, content FROM records WHERE name = $1 ORDER BY type, content", {name}))
    records += (records.empty() ? "" : ", ") + row[0] + " " + row[1];
  return records;
}

// The serial in the zone's SOA.
std::uint64_t SerialIn(hw::service::SqlDatabase& db) {
  std::istringstream fields(db.Query("SELECT content FROM records WHERE type = 'SOA'").at(0).at(0));
  std::string skip;
  std::uint64_t serial = 0;
  fields >> skip >> skip >> serial;
  return serial;
}

using hwtest::ScratchDatabase;

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
    auto store = std::make_unique<AccountStore>(OpenDatabase(database), kSqliteSchema, ".hostwarden.test", adopt);
    store->UseClock(Ticking());
    return store;
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
  ASSERT_EQ(store->SetAddresses(*store->Find("alice"), {"198.51.100.4"}, "198.51.100.4", 1), AddressChange::Changed);
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
  EXPECT_EQ(store.SetAddresses(checked, {"198.51.100.9"}, "198.51.100.9", 1), AddressChange::AccountGone);
  const auto db = OpenDatabase(database);
  EXPECT_TRUE(db->Query("SELECT 1 FROM records WHERE name = 'alice.hostwarden.test'").empty());

  Account anew = AccountNamed("alice", "192.0.2.7");
  anew.machineId = "AABBCCDDEEFF";
  ASSERT_TRUE(store.Create(anew));
  EXPECT_EQ(store.SetAddresses(checked, {"198.51.100.9"}, "198.51.100.9", 2), AddressChange::AccountGone);
  EXPECT_EQ(db->Query("SELECT content FROM records WHERE name = 'alice.hostwarden.test'").at(0).at(0), "192.0.2.7");
}

// A machine reached over both families checks over each in turn: each update replaces the record of
// its own family only, is compared with that record (not with the last address of either family),
// and raises the serial only when it changed a record.
void EachFamilyKeepsItsOwnRecord(AccountStore& store, hw::service::SqlDatabase& db) {
  struct Step {
    const char* what;
    std::vector<std::string> addresses;
    AddressChange change;
    const char* records;
  };
  const Step steps[] = {
      {"IPv6 beside the registered IPv4", {"2001:db8::1"}, AddressChange::Changed, "A 203.0.113.1, AAAA 2001:db8::1"},
      {"IPv4 again after IPv6", {"203.0.113.1"}, AddressChange::Unchanged, "A 203.0.113.1, AAAA 2001:db8::1"},
      {"IPv6 again after IPv4", {"2001:db8::1"}, AddressChange::Unchanged, "A 203.0.113.1, AAAA 2001:db8::1"},
      {"IPv4 moves", {"203.0.113.2"}, AddressChange::Changed, "A 203.0.113.2, AAAA 2001:db8::1"},
      {"IPv4 in IPv6 form", {"::ffff:203.0.113.2"}, AddressChange::Unchanged, "A 203.0.113.2, AAAA 2001:db8::1"},
      {"IPv6 spelled otherwise", {"2001:DB8:0::1"}, AddressChange::Unchanged, "A 203.0.113.2, AAAA 2001:db8::1"},
      {"IPv6 moves", {"2001:db8::2"}, AddressChange::Changed, "A 203.0.113.2, AAAA 2001:db8::2"},
      {"both move in one update",
       {"198.51.100.1", "2001:db8::3"},
       AddressChange::Changed,
       "A 198.51.100.1, AAAA 2001:db8::3"},
      {"one of two moves", {"198.51.100.1", "2001:db8::4"}, AddressChange::Changed, "A 198.51.100.1, AAAA 2001:db8::4"},
  };
  ASSERT_TRUE(store.Create(AccountNamed("alice")));
  std::uint64_t serial = SerialIn(db);
  std::int64_t time = 0;
  for (const Step& step : steps) {
    const std::string from = step.addresses.back();
    EXPECT_EQ(store.SetAddresses(*store.Find("alice"), step.addresses, from, ++time), step.change) << step.what;
    EXPECT_EQ(RecordsOf(db, "alice.hostwarden.test"), step.records) << step.what;
    serial += step.change == AddressChange::Changed;
    EXPECT_EQ(SerialIn(db), serial) << step.what << ": one step for each update that changed a record";
    EXPECT_EQ(store.Find("alice")->address, from) << step.what << ": where the last query came from";
    EXPECT_EQ(store.Find("alice")->updated, time) << step.what;
  }
  store.Remove(*store.Find("alice"));
  EXPECT_EQ(RecordsOf(db, "alice.hostwarden.test"), "") << "a release takes both records";
  EXPECT_EQ(SerialIn(db), serial + 1);
  EXPECT_TRUE(db.Query("SELECT record_id FROM ddns_records").empty());
}

TEST(AccountStoreFamilies, OnSqlite) {
  hwtest::TempDir folder;
  const std::string database = "sqlite:" + folder.File("dns.db");
  AccountStore store(OpenDatabase(database), kSqliteSchema, ".hostwarden.test", false, kNoChangeLimit);
  store.UseClock(Ticking());
  EachFamilyKeepsItsOwnRecord(store, *OpenDatabase(database));
}

TEST(AccountStoreFamilies, OnPostgresql) {
  HW_TEST_POSTGRES_OR_SKIP(server);
  const ScratchDatabase scratch(server, "hw_families_");
  AccountStore store(OpenDatabase(scratch.connection()), kPostgresSchema, ".hostwarden.test", false, kNoChangeLimit);
  store.UseClock(Ticking());
  EachFamilyKeepsItsOwnRecord(store, *OpenDatabase(scratch.connection()));
}

// However many changes fall in one second, the serial rises once for them; the changes after the
// second's first one are covered by CatchUp in the next second, and then nothing is owed.
TEST(SoaSerial, RisesAtMostOnceASecondAndCatchesUp) {
  hwtest::TempDir folder;
  const std::string database = "sqlite:" + folder.File("dns.db");
  AccountStore store(OpenDatabase(database), kSqliteSchema, ".hostwarden.test");
  std::int64_t now = 5000;
  store.UseClock([&] { return now; });
  const auto db = OpenDatabase(database);
  const std::uint64_t serial = SerialIn(*db);
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(store.Create(AccountNamed("name" + std::to_string(i))));
  EXPECT_EQ(SerialIn(*db), serial + 1) << "ten registrations in one second";
  store.CatchUp();
  EXPECT_EQ(SerialIn(*db), serial + 1) << "still the same second";
  ++now;
  store.CatchUp();
  EXPECT_EQ(SerialIn(*db), serial + 2) << "the next second covers the other nine";
  ++now;
  store.CatchUp();
  EXPECT_EQ(SerialIn(*db), serial + 2) << "nothing owed";
}

// An account's records change at most as often as its budget allows (here two, then one a tenth of
// a second); a check beyond it is answered "changed" and its record follows once CatchUp may write
// it, the latest address of each family winning.
TEST(AccountStoreChanges, ChangesBeyondTheBudgetWaitAndFollow) {
  hwtest::TempDir folder;
  const std::string database = "sqlite:" + folder.File("dns.db");
  AccountStore store(OpenDatabase(database), kSqliteSchema, ".hostwarden.test", false,
                     hw::service::Budget{2, std::chrono::milliseconds(100)});
  store.UseClock(Ticking());
  const auto db = OpenDatabase(database);
  ASSERT_TRUE(store.Create(AccountNamed("alice")));
  std::int64_t time = 0;
  const auto check = [&](const std::string& address) {
    return store.SetAddresses(*store.Find("alice"), {address}, address, ++time);
  };
  ASSERT_EQ(check("198.51.100.1"), AddressChange::Changed);
  ASSERT_EQ(check("198.51.100.2"), AddressChange::Changed);
  EXPECT_EQ(check("198.51.100.3"), AddressChange::Changed) << "answered as it will be";
  EXPECT_EQ(check("198.51.100.4"), AddressChange::Changed);
  EXPECT_EQ(RecordsOf(*db, "alice.hostwarden.test"), "A 198.51.100.2") << "the budget is spent";
  EXPECT_EQ(store.WaitingChanges(), 1u) << "one waiting change, the latest";
  EXPECT_TRUE(hwtest::WaitUntil(
      [&] {
        store.CatchUp();
        return store.WaitingChanges() == 0;
      },
      std::chrono::seconds(10)));
  EXPECT_EQ(RecordsOf(*db, "alice.hostwarden.test"), "A 198.51.100.4");
  EXPECT_EQ(check("198.51.100.4"), AddressChange::Unchanged);
}

// A database of the version whose serial table had no "owed": the column is added at start, and
// changes and the catch-up work on it.
void ServesADatabaseOfTheVersionBeforeOwed(const std::string& connection, const char* schema) {
  AccountStore(OpenDatabase(connection), schema, ".hostwarden.test");
  const auto db = OpenDatabase(connection);
  db->Query("DROP TABLE ddns_serial");
  db->Query("CREATE TABLE ddns_serial (zone VARCHAR(255) PRIMARY KEY, raised BIGINT NOT NULL)");
  db->Query("INSERT INTO ddns_serial (zone, raised) VALUES ('hostwarden.test', 0)");
  AccountStore store(OpenDatabase(connection), schema, ".hostwarden.test");
  std::int64_t now = 5000;
  store.UseClock([&] { return now; });
  const std::uint64_t serial = SerialIn(*db);
  ASSERT_TRUE(store.Create(AccountNamed("alice")));
  ASSERT_TRUE(store.Create(AccountNamed("bob")));
  ++now;
  ASSERT_NO_THROW(store.CatchUp());
  EXPECT_EQ(SerialIn(*db), serial + 2) << "the second registration's rise was owed and caught up";
}

TEST(AccountStoreUpgrade, OnSqlite) {
  hwtest::TempDir folder;
  ServesADatabaseOfTheVersionBeforeOwed("sqlite:" + folder.File("dns.db"), kSqliteSchema);
}

TEST(AccountStoreUpgrade, OnPostgresql) {
  HW_TEST_POSTGRES_OR_SKIP(server);
  const ScratchDatabase scratch(server, "hw_upgrade_");
  ServesADatabaseOfTheVersionBeforeOwed(scratch.connection(), kPostgresSchema);
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
    scratch_ = std::make_unique<ScratchDatabase>(server, "hw_instances_");
    for (auto* store : {&first_, &second_}) {
      *store = std::make_unique<AccountStore>(OpenDatabase(scratch_->connection()), kPostgresSchema,
                                              ".hostwarden.test", false, kNoChangeLimit);
      (*store)->UseClock([this] { return now_.load(); });
    }
  }
  void TearDown() override {
    first_.reset();
    second_.reset();
    scratch_.reset();
  }
  std::uint64_t Serial() { return SerialIn(*OpenDatabase(scratch_->connection())); }
  // Runs both at the same moment, each on its own thread.
  static void AtOnce(const std::function<void()>& one, const std::function<void()>& other) {
    std::latch start(2);
    std::thread a([&] { start.arrive_and_wait(), one(); });
    std::thread b([&] { start.arrive_and_wait(), other(); });
    a.join();
    b.join();
  }

  std::unique_ptr<ScratchDatabase> scratch_;
  std::unique_ptr<AccountStore> first_, second_;
  std::atomic<std::int64_t> now_{7000};  // the wall clock both instances read
};

// Changes made at once through two instances neither fail nor go uncovered: within one second the
// serial rises once for both instances together, and in the next one CatchUp covers the rest.
TEST_F(TwoInstances, SimultaneousChangesNeitherFailNorGoUncovered) {
  const std::uint64_t serial = Serial();
  for (int round = 0; round < 30; ++round) {
    const std::string name = "race" + std::to_string(round);
    int created = 0;
    AtOnce([&] { created += first_->Create(AccountNamed(name)); }, [&] { created += second_->Create(AccountNamed(name)); });
    EXPECT_EQ(created, 1) << name << ": one wins, the other is refused";
  }
  EXPECT_EQ(Serial(), serial + 1) << "thirty registrations in one second, through two instances";
  const Account a = *first_->Find("race0"), b = *first_->Find("race1");
  ++now_;
  AtOnce(
      [&] {
        for (int change = 0; change < 30; ++change)
          first_->SetAddresses(a, {"198.51.100." + std::to_string(change % 2)}, "192.0.2.1", 1);
      },
      [&] {
        for (int change = 0; change < 30; ++change)
          second_->SetAddresses(b, {"198.51.100." + std::to_string(change % 2)}, "192.0.2.1", 1);
      });
  EXPECT_EQ(Serial(), serial + 2) << "sixty changes in the next second";
  ++now_;
  first_->CatchUp();
  second_->CatchUp();
  EXPECT_EQ(Serial(), serial + 3) << "one raise covers what both instances owed";
  ++now_;
  first_->CatchUp();
  second_->CatchUp();
  EXPECT_EQ(Serial(), serial + 3) << "nothing owed";
}

// What one instance owes, another may raise: the debt is in the database, not in the memory of the
// instance that made the change, and no instance's clock decides for another.
TEST_F(TwoInstances, AnotherInstanceRaisesWhatOneOwed) {
  std::atomic<std::int64_t> behind{now_ - 2};  // the second instance's clock is two seconds late
  second_->UseClock([&] { return behind.load(); });
  ASSERT_TRUE(first_->Create(AccountNamed("early")));
  const std::uint64_t serial = Serial();
  ASSERT_TRUE(second_->Create(AccountNamed("late")));
  EXPECT_EQ(Serial(), serial) << "the late clock cannot raise it past the first instance's rise";
  ++now_;
  first_->CatchUp();
  EXPECT_EQ(Serial(), serial + 1) << "the first instance raises what the second owed";
  second_.reset();  // a restart loses nothing either: the debt was settled in the database
  ++now_;
  first_->CatchUp();
  EXPECT_EQ(Serial(), serial + 1);
}

}  // namespace
