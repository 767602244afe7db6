// The reference service's guards for the open internet, without its HTTP front: the password work a
// client can force, and the addresses and log text a client can put forward.
#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "ddns/Envelope.h"
#include "fixtures/TempDir.h"
#include "service/AccountStore.h"
#include "service/ClientAddress.h"
#include "service/Dyndns2Addresses.h"
#include "service/Exchange.h"
#include "service/SqlDatabase.h"

namespace {

using hw::service::Exchange;
using hw::service::Query;

constexpr const char* kMachine = "001122334455";
constexpr const char* kSchema = "/usr/share/pdns-backend-sqlite3/schema/schema.sqlite3.sql";

// An exchange on a fresh database, with the cheap test hash and a small failure budget: three
// failures, and no refill within a test.
class ServiceGuard : public ::testing::Test {
 protected:
  std::string Post(Exchange& exchange, std::optional<std::string> (Exchange::*handler)(const Query&),
                   const std::string& name, const std::string& password, const std::string& from) {
    const Query query{hw::BuildEnvelope(name, password, kMachine), from, 0};
    const std::string reply = (exchange.*handler)(query).value_or("(no envelope)");
    return reply.substr(0, 2);
  }
  std::string Check(const std::string& name, const std::string& password, const std::string& from = "192.0.2.1") {
    return Post(exchange, &Exchange::Check, name, password, from);
  }
  std::string Register(const std::string& name, const std::string& password, const std::string& from = "203.0.113.50") {
    return Post(exchange, &Exchange::Register, name, password, from);
  }
  // The slow hashes that `action` cost.
  std::uint64_t HashesOf(const std::function<void()>& action) {
    const std::uint64_t before = exchange.SlowHashes();
    action();
    return exchange.SlowHashes() - before;
  }

  hwtest::TempDir folder;
  hw::service::AccountStore accounts{hw::service::OpenDatabase("sqlite:" + folder.File("dns.db")), kSchema,
                                     ".hostwarden.test"};
  Exchange exchange{accounts, true, hw::service::VerificationKey{1}, hw::service::FailureBudget{3, std::chrono::hours(1)}};
};

// A password costs one slow hash, at registration; from then on its digest is enough. A wrong one
// is never remembered, and an unknown name costs a hash as a known one does.
TEST_F(ServiceGuard, RightPasswordIsHashedOnceThenRecognisedByItsDigest) {
  EXPECT_EQ(HashesOf([&] { ASSERT_EQ(Register("alice", "secret"), "##"); }), 1u);
  EXPECT_EQ(HashesOf([&] { EXPECT_EQ(Check("alice", "secret"), "**"); }), 0u);
  EXPECT_EQ(HashesOf([&] { EXPECT_EQ(Check("alice", "secret"), "##"); }), 0u);
  EXPECT_EQ(HashesOf([&] { EXPECT_EQ(Check("alice", "wrong!"), "!!"); }), 1u);
  EXPECT_EQ(HashesOf([&] { EXPECT_EQ(Check("alice", "wrong!"), "!!"); }), 1u) << "a wrong password is not kept";
  EXPECT_EQ(HashesOf([&] { EXPECT_EQ(Check("nobody", "secret"), "@@"); }), 1u) << "as costly as a known name";
}

// A flood of wrong passwords runs out of its budget and then costs nothing, while the owner, who
// has checked in before, and every other account go on being answered.
TEST_F(ServiceGuard, FloodOfWrongPasswordsIsLimitedWithoutLockingOutTheOwner) {
  ASSERT_EQ(Register("alice", "secret"), "##");
  ASSERT_EQ(Register("bobby", "secret"), "##");
  ASSERT_EQ(Check("alice", "secret", "192.0.2.1"), "**");
  for (int guess = 0; guess < 3; ++guess) EXPECT_EQ(Check("alice", "guess!", "198.51.100.7"), "!!");
  EXPECT_EQ(HashesOf([&] { EXPECT_EQ(Check("alice", "guess!", "198.51.100.7"), "!!"); }), 0u) << "the address is spent";
  EXPECT_EQ(HashesOf([&] { EXPECT_EQ(Check("alice", "guess!", "198.51.100.8"), "!!"); }), 0u) << "so is the account";
  EXPECT_EQ(HashesOf([&] { EXPECT_EQ(Check("alice", "secret", "192.0.2.1"), "##"); }), 0u) << "the owner still checks";
  EXPECT_EQ(Check("bobby", "secret", "192.0.2.2"), "**") << "another account is not touched";
  EXPECT_EQ(HashesOf([&] { EXPECT_EQ(Check("carol", "guess!", "198.51.100.7"), "!!"); }), 0u)
      << "a spent address gets no hash for an unknown name either";
  EXPECT_EQ(HashesOf([&] {
              EXPECT_EQ(exchange.Dyndns2Update("alice", "guess!", "alice.hostwarden.test", {"203.0.113.1"},
                                               "198.51.100.7", 0),
                        "badauth");
            }),
            0u);
  // One host of an IPv6 network spends the budget of the whole /64.
  for (int guess = 0; guess < 3; ++guess) Check("bobby", "guess!", "2001:db8:1:2::" + std::to_string(guess + 1));
  EXPECT_EQ(HashesOf([&] { Check("carol", "guess!", "2001:db8:1:2:ffff::9"); }), 0u);
}

// Every instance on the database, and the service after a restart, knows a password verified once,
// as long as it has the key; a copy of the database without the key verifies nothing by digest.
TEST_F(ServiceGuard, VerifiedPasswordsOutliveTheProcessOnlyWithTheKey) {
  ASSERT_EQ(Register("alice", "secret"), "##");
  hw::service::AccountStore again{hw::service::OpenDatabase("sqlite:" + folder.File("dns.db")), kSchema,
                                  ".hostwarden.test"};
  const auto checkThrough = [&](const hw::service::VerificationKey& key) {
    Exchange other{again, true, key};
    const std::uint64_t before = other.SlowHashes();
    const std::string marker = Post(other, &Exchange::Check, "alice", "secret", "192.0.2.1");
    EXPECT_TRUE(marker == "**" || marker == "##") << marker;
    return other.SlowHashes() - before;
  };
  EXPECT_EQ(checkThrough(hw::service::VerificationKey{1}), 0u) << "the same key";
  EXPECT_EQ(checkThrough(hw::service::VerificationKey{2}), 1u) << "another key: the slow hash";
}

// An owner is never locked out by someone else's guesses, not even before its first check: the
// registration verified its password. A taken name costs no hash, and the hashes of registrations
// are charged to their address. Hashes at once never overshoot the budget.
TEST_F(ServiceGuard, GuessesAndRegistrationsStayWithinTheirBudget) {
  ASSERT_EQ(Register("alice", "secret"), "##");
  for (int guess = 0; guess < 20; ++guess) Check("alice", "guess!", "198.51.100." + std::to_string(guess % 2 + 1));
  EXPECT_EQ(HashesOf([&] { EXPECT_EQ(Check("alice", "secret", "192.0.2.1"), "**"); }), 0u);

  EXPECT_EQ(HashesOf([&] {
              for (int i = 0; i < 50; ++i) EXPECT_EQ(Register("alice", "other!", "198.51.100.9"), "%%");
            }),
            0u)
      << "a taken name";
  const std::uint64_t limitedBefore = exchange.LimitedAnswers();
  EXPECT_EQ(HashesOf([&] {
              for (int i = 0; i < 5; ++i) Register("newname" + std::to_string(i), "secret", "198.51.100.10");
            }),
            3u)
      << "three new names from one address, then none";
  EXPECT_EQ(exchange.LimitedAnswers() - limitedBefore, 2u);

  ASSERT_EQ(Register("bobby", "secret", "203.0.113.60"), "##");
  std::vector<std::thread> guessers;
  const std::uint64_t before = exchange.SlowHashes();
  for (int i = 0; i < 40; ++i)
    guessers.emplace_back([&, i] { Check("bobby", "guess!", "198.51.101." + std::to_string(i + 1)); });
  for (std::thread& guesser : guessers) guesser.join();
  EXPECT_EQ(exchange.SlowHashes() - before, 3u) << "forty guesses at once against a budget of three";
}

// A check whose password was verified and whose address is the record's is answered from memory;
// any other (a new address, a wrong password, another machine, an account not yet in memory) takes
// the way through the database. Another instance's change reaches memory through the change feed.
TEST_F(ServiceGuard, ChecksFromMemoryOnlyWhileTheyWouldChangeNothing) {
  const auto atOnce = [&](Exchange& through, const std::string& password, const std::string& from,
                          const char* machine = kMachine) {
    return through.CheckAtOnce({hw::BuildEnvelope("alice", password, machine), from, 0}).value_or("(database)").substr(0, 2);
  };
  ASSERT_EQ(Register("alice", "secret"), "##");
  EXPECT_EQ(atOnce(exchange, "secret", "203.0.113.50"), "(d") << "not in memory before its first check";
  ASSERT_EQ(Check("alice", "secret", "203.0.113.50"), "##");
  EXPECT_EQ(atOnce(exchange, "secret", "203.0.113.50"), "##");
  EXPECT_EQ(atOnce(exchange, "wrong!", "203.0.113.50"), "(d");
  EXPECT_EQ(atOnce(exchange, "secret", "203.0.113.50", "AABBCCDDEEFF"), "(d");
  EXPECT_EQ(atOnce(exchange, "secret", "203.0.113.51"), "(d") << "a new address changes the record";
  EXPECT_EQ(atOnce(exchange, "secret", "2001:db8::1"), "(d") << "so does the first of the other family";

  // Another instance on the same database moves the record; this one follows its change feed.
  hw::service::AccountStore otherStore{hw::service::OpenDatabase("sqlite:" + folder.File("dns.db")), kSchema,
                                       ".hostwarden.test"};
  Exchange other{otherStore, true, hw::service::VerificationKey{1}};
  ASSERT_EQ(Post(other, &Exchange::Check, "alice", "secret", "198.51.100.4"), "**");
  accounts.FollowChanges();
  EXPECT_EQ(atOnce(exchange, "secret", "203.0.113.50"), "(d") << "the record is elsewhere now";
  EXPECT_EQ(Check("alice", "secret", "203.0.113.50"), "**");
  ASSERT_EQ(Post(other, &Exchange::Release, "alice", "secret", "198.51.100.4"), "^^");
  accounts.FollowChanges();
  EXPECT_EQ(atOnce(exchange, "secret", "203.0.113.50"), "(d") << "released";
  EXPECT_EQ(Check("alice", "secret", "203.0.113.50"), "@@");
}

// A change the feed no longer shows (not followed for longer than it looks back: the database gone
// for a while) may have been missed: memory then answers nothing it held.
TEST_F(ServiceGuard, MemoryAnswersNothingAfterTheFeedWentUnreadTooLong) {
  ASSERT_EQ(Register("alice", "secret"), "##");
  ASSERT_EQ(Check("alice", "secret", "203.0.113.50"), "##");
  const auto atOnce = [&] {
    return exchange.CheckAtOnce({hw::BuildEnvelope("alice", "secret", kMachine), "203.0.113.50", 0}).has_value();
  };
  ASSERT_TRUE(atOnce());
  hw::service::AccountStore otherStore{hw::service::OpenDatabase("sqlite:" + folder.File("dns.db")), kSchema,
                                       ".hostwarden.test"};
  Exchange other{otherStore, true, hw::service::VerificationKey{1}};
  ASSERT_EQ(Post(other, &Exchange::Check, "alice", "secret", "198.51.100.4"), "**");
  hw::service::OpenDatabase("sqlite:" + folder.File("dns.db"))->Query("DELETE FROM ddns_changes");  // gone by
  std::this_thread::sleep_for(std::chrono::seconds(hw::service::AccountStore::kChangesFollowedSeconds));
  accounts.FollowChanges();
  EXPECT_FALSE(atOnce()) << "the record is elsewhere, and memory does not say otherwise";
}

// A released name forgets its password: registered again with another one, the old one is wrong.
TEST_F(ServiceGuard, ReleaseForgetsTheVerifiedPassword) {
  ASSERT_EQ(Register("alice", "secret"), "##");
  ASSERT_EQ(Check("alice", "secret"), "**");
  ASSERT_EQ(Post(exchange, &Exchange::Release, "alice", "secret", "192.0.2.1"), "^^");
  ASSERT_EQ(Register("alice", "другой"), "##");
  EXPECT_EQ(Check("alice", "secret"), "!!");
  EXPECT_EQ(Check("alice", "другой"), "**");
}

// Behind the trusted proxy, the last entry of all X-Forwarded-For lines, when it is an address;
// nothing when the proxy names none (its own address is no client's).
TEST(ClientAddress, OnlyTheTrustedProxysOwnEntryCounts) {
  struct Case {
    const char* what;
    const char* peer;
    std::vector<std::string> forwarded;
    const char* expected;
  };
  const Case cases[] = {
      {"no proxy: the peer", "192.0.2.1", {"198.51.100.1"}, "192.0.2.1"},
      {"the proxy, one entry", "127.0.0.2", {"198.51.100.1"}, "198.51.100.1"},
      {"the proxy, a forged entry before its own", "127.0.0.2", {"10.9.9.9, 198.51.100.1"}, "198.51.100.1"},
      {"the proxy appends a line of its own", "127.0.0.2", {"10.9.9.9", "198.51.100.1"}, "198.51.100.1"},
      {"not an address", "127.0.0.2", {"1.2.3.4 x"}, ""},
      {"an empty last entry", "127.0.0.2", {"198.51.100.1,"}, ""},
      {"the proxy in mapped form", "::ffff:127.0.0.2", {"2001:db8::1"}, "2001:db8::1"},
      {"a mapped client", "127.0.0.2", {"::FFFF:198.51.100.1"}, "198.51.100.1"},
      {"the proxy without the header", "127.0.0.2", {}, ""},
      {"a real IPv6 address with a dotted tail", "127.0.0.2", {"::ffff:1:192.0.2.1"}, "::ffff:1:192.0.2.1"},
      {"no address behind a mapped prefix", "127.0.0.2", {"::ffff:127::ffff:127.0.0.1"}, ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(hw::service::ClientAddressOf(c.peer, c.forwarded, "127.0.0.2"), c.expected) << c.what;
  EXPECT_EQ(hw::service::ClientAddressOf("127.0.0.2", {"198.51.100.1"}, "::ffff:127.0.0.2"), "198.51.100.1");
}

TEST(LogSafe, NoClientTextEndsOrForgesALine) {
  EXPECT_EQ(hw::service::LogSafe("/fo.php\n127.0.0.1 POST /lk.php 200 ^^"), "/fo.php\\x0A127.0.0.1 POST /lk.php 200 ^^");
  EXPECT_EQ(hw::service::LogSafe(std::string("a\r\0b\x7f\\", 6)), "a\\x0D\\x00b\\x7F\\\\");
  EXPECT_EQ(hw::service::LogSafe("/hostwarden1.3.0.1"), "/hostwarden1.3.0.1");
}

// What a dyndns2 update names for the records: one address a family, IPv4 first, only addresses.
TEST(Dyndns2Addresses, OneAddressAFamilyIpv4First) {
  struct Case {
    const char* myip;
    const char* myipv6;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"203.0.113.5", "", {"203.0.113.5"}},
      {"2001:db8::5", "", {"2001:db8::5"}},
      {"203.0.113.5", "2001:db8::5", {"203.0.113.5", "2001:db8::5"}},
      {"203.0.113.5,2001:db8::5", "", {"203.0.113.5", "2001:db8::5"}},
      {"2001:db8::5, 203.0.113.5", "", {"203.0.113.5", "2001:db8::5"}},
      {"", "2001:db8::5", {"2001:db8::5"}},
      {"203.0.113.5,203.0.113.6", "", {"203.0.113.5"}},
      {"2001:db8::5", "2001:db8::6", {"2001:db8::5"}},
      {"not-an-address,2001:db8::5", "", {"2001:db8::5"}},
      {"::ffff:203.0.113.5", "2001:db8::5", {"203.0.113.5", "2001:db8::5"}},
      {"203.0.113.5", "junk", {"203.0.113.5"}},
      {"::ffff:127::ffff:127.0.0.1", "", {}},
      {"203.0.113.5", "::ffff:1:192.0.2.1", {"203.0.113.5", "::ffff:1:192.0.2.1"}},
      {"junk", "", {}},
      {"", "", {}},
      {",", ",,", {}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(hw::service::Dyndns2Addresses(c.myip, c.myipv6), c.expected) << c.myip << " / " << c.myipv6;
}

}  // namespace
