// hostwarden-daemon in a network namespace of the test's own (tests/process/in-network-namespace.sh):
// a check over each address family, and an extra check soon after the machine's address changes.
#include <netinet/in.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "fixtures/DaemonTest.h"

namespace {

using namespace std::chrono_literals;
using hwtest::ChildProcess;
using hwtest::kBeforeClosing;
using hwtest::kDaemon;
using hwtest::ReadFileText;
using hwtest::Reply;

void Ip(const std::string& arguments) { ASSERT_EQ(std::system(("ip " + arguments).c_str()), 0) << arguments; }

class Network : public hwtest::DaemonTest {
 protected:
  Network() : DaemonTest(true) {}

  void SetUp() override {
    DaemonTest::SetUp();
    if (IsSkipped()) return;
    StoreAccount("alice", "secret");
    // No speed-up: the ten-minute tick stays out of the way.
    environment_ = Environment();
    environment_.erase("HOSTWARDEN_TEST_SPEEDUP");
  }
  // Each test finds the loopback as the namespace made it, also when the tests run in one process.
  void TearDown() override {
    Ip("addr flush dev lo scope global");
    Ip("addr flush dev lo scope link");
    Ip("route flush exact 0.0.0.0/0");
  }
  // The fake service by a name with both an A and an AAAA address (the namespace's hosts file).
  std::string ServicePrefix() const override { return "http://service.test:" + std::to_string(service_.port()); }

  // Starts the daemon with `arguments` and waits until its start-up is done.
  std::unique_ptr<ChildProcess> Start(const std::vector<std::string>& arguments) {
    std::filesystem::remove(scratch_.File("trace"));
    auto daemon = std::make_unique<ChildProcess>(kDaemon, scratch_.path(), environment_, arguments, scratch_.File("log"));
    EXPECT_TRUE(WaitingForTheFirstTick()) << Log();
    return daemon;
  }
  std::vector<std::string> Checks(int family) {
    std::vector<std::string> checks;
    for (const std::string& request : service_.RequestsOver(family))
      if (request.starts_with("POST /fo.php ")) checks.push_back(request);
    return checks;
  }
  std::size_t CheckCount() { return Checks(AF_INET).size() + Checks(AF_INET6).size(); }
  std::string Log() const { return ReadFileText(scratch_.File("log")); }
  std::string Trace() const { return ReadFileText(scratch_.File("trace")); }
  bool TraceSays(const std::string& line, std::size_t times = 1) const {
    return hwtest::WaitUntil([&] { return Count(Trace(), line) >= times; }, 20s);
  }

  std::map<std::string, std::string> environment_;
};

struct FamilyCase {
  const char* what;
  const char* globalIpv6;  // an address given to the namespace's loopback first, or null
  bool byOption;           // --dual-stack rather than the settings value
  bool dualStack;
  std::size_t overIpv4, overIpv6;
  std::vector<std::string> logLines;
};

TEST_F(Network, ACheckGoesOverEachFamilyThatIsThereAndSaysWhich) {
  const std::vector<FamilyCase> cases = {
      {"both families, from the settings", "2001:db8::5/64", false, true, 1, 1,
       {"Host name updated; it now points to 203.0.113.5. (IPv4)", "Host name updated; it now points to 2001:db8::5. (IPv6)"}},
      {"both families, from the option", "2001:db8::5/64", true, true, 1, 1, {"(IPv4)", "(IPv6)"}},
      {"no global IPv6 address: IPv4 alone, no error", nullptr, false, true, 1, 0, {"it now points to 203.0.113.5. (IPv4)"}},
  };
  for (const FamilyCase& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.globalIpv6) Ip(std::string("addr add ") + c.globalIpv6 + " dev lo");
    {
      hw::SettingsAccess settings;
      ASSERT_TRUE(settings.OpenSettings(true));
      settings.WriteFlag("DualStack", c.dualStack && !c.byOption);
    }
    const std::size_t v4 = Checks(AF_INET).size(), v6 = Checks(AF_INET6).size();
    for (const char* reply : {kBeforeClosing, kBeforeClosing, "**203.0.113.5-101010", "**2001:db8::5-101010"})
      service_.Enqueue(Reply::Ok(reply));
    auto daemon = Start(c.byOption ? std::vector<std::string>{"run", "--dual-stack"} : std::vector<std::string>{});
    EXPECT_EQ(Checks(AF_INET).size() - v4, c.overIpv4);
    EXPECT_EQ(Checks(AF_INET6).size() - v6, c.overIpv6);
    for (const std::string& line : c.logLines) EXPECT_NE(Log().find(line), std::string::npos) << line << "\n" << Log();
    EXPECT_EQ(Log().find("ERROR"), std::string::npos) << Log();
    daemon->Signal(SIGTERM);
    EXPECT_EQ(daemon->WaitForExit(5s), 0);
    TearDown();
  }
}

TEST_F(Network, WithTheDefaultsOneCheckGoesAndNoLineNamesAFamily) {
  Ip("addr add 2001:db8::5/64 dev lo");
  for (const char* reply : {kBeforeClosing, kBeforeClosing, "##203.0.113.5-101010"}) service_.Enqueue(Reply::Ok(reply));
  auto daemon = Start({});
  EXPECT_EQ(CheckCount(), 1u);
  EXPECT_EQ(Log().find("(IPv"), std::string::npos) << Log();
}

TEST_F(Network, AnAddedGlobalAddressIsCheckedWithinSecondsAndALinkLocalOneNever) {
  for (const char* reply : {kBeforeClosing, kBeforeClosing, "##203.0.113.5-101010"}) service_.Enqueue(Reply::Ok(reply));
  auto daemon = Start({"--watch-address"});
  ASSERT_EQ(CheckCount(), 1u);

  Ip("addr add fe80::7/64 dev lo");
  Ip("addr add 192.0.2.7/32 dev lo scope link");
  // Both reports are taken, and neither counts: no settling, no check.
  ASSERT_TRUE(TraceSays("network report ignored: new address fe80::7\n")) << Trace();
  ASSERT_TRUE(TraceSays("network report ignored: new address 192.0.2.7\n")) << Trace();
  EXPECT_EQ(Count(Trace(), "network change settled"), 0u) << Trace();
  EXPECT_EQ(CheckCount(), 1u);

  for (const char* reply : {kBeforeClosing, "**198.51.100.7-101010"}) service_.Enqueue(Reply::Ok(reply));
  const auto added = std::chrono::steady_clock::now();
  Ip("addr add 198.51.100.7/32 dev lo");
  ASSERT_TRUE(hwtest::WaitUntil([&] { return CheckCount() == 2; }, 20s)) << Trace();
  EXPECT_LT(std::chrono::steady_clock::now() - added, 6s);
  // The check has reached the service; its reply is logged a moment later.
  EXPECT_TRUE(hwtest::WaitUntil([&] { return Log().find("it now points to 198.51.100.7.") != std::string::npos; }, 20s))
      << Log();
}

TEST_F(Network, ANewDefaultRouteIsAChange) {
  for (const char* reply : {kBeforeClosing, kBeforeClosing, "##203.0.113.5-101010", kBeforeClosing, "##203.0.113.5-101010"})
    service_.Enqueue(Reply::Ok(reply));
  auto daemon = Start({"--watch-address"});
  Ip("route add default dev lo");
  ASSERT_TRUE(TraceSays("network change settled: a check follows")) << Trace();
  ASSERT_TRUE(hwtest::WaitUntil([&] { return CheckCount() == 2; }, 20s)) << Trace();
}

TEST_F(Network, ABurstOfTenChangesIsOneCheck) {
  for (const char* reply : {kBeforeClosing, kBeforeClosing, "##203.0.113.5-101010", kBeforeClosing, "##203.0.113.5-101010"})
    service_.Enqueue(Reply::Ok(reply));
  auto daemon = Start({"--watch-address"});
  std::string batch;
  for (int i = 1; i <= 10; ++i) batch += "addr add 2001:db8::" + std::to_string(i) + "/64 dev lo\n";
  Ip("-batch - <<'EOF'\n" + batch + "EOF");
  ASSERT_TRUE(hwtest::WaitUntil([&] { return CheckCount() == 2; }, 20s)) << Trace();
  ASSERT_TRUE(TraceSays("extra check done")) << Trace();
  EXPECT_EQ(Count(Trace(), "network change settled"), 1u) << Trace();
  EXPECT_EQ(CheckCount(), 2u);
}

TEST_F(Network, AnAddressThatComesAndGoesWithinTheSettlingIsNoChange) {
  for (const char* reply : {kBeforeClosing, kBeforeClosing, "##203.0.113.5-101010"}) service_.Enqueue(Reply::Ok(reply));
  auto daemon = Start({"--watch-address"});
  Ip("-batch - <<'EOF'\naddr add 198.51.100.9/32 dev lo\naddr del 198.51.100.9/32 dev lo\nEOF");
  ASSERT_TRUE(TraceSays("network change settled: nothing to publish")) << Trace();
  EXPECT_EQ(CheckCount(), 1u);
}

TEST_F(Network, TheTrayClientTakesBothChoicesFromItsSettings) {
  Ip("addr add 2001:db8::5/64 dev lo");
  {
    hw::SettingsAccess settings;
    ASSERT_TRUE(settings.OpenSettings(true));
    settings.WriteFlag("DualStack", true);
    settings.WriteFlag("WatchAddress", true);
  }
  for (const char* reply : {kBeforeClosing, kBeforeClosing, "##203.0.113.5-101010", "##2001:db8::5-101010",
                            kBeforeClosing, "**198.51.100.7-101010", "##2001:db8::5-101010"})
    service_.Enqueue(Reply::Ok(reply));
  auto environment = environment_;
  environment["QT_QPA_PLATFORM"] = "offscreen";
  ChildProcess tray(hwtest::kTray, scratch_.path(), environment, {}, scratch_.File("log"));
  ASSERT_TRUE(TraceSays("event loop")) << Log();
  EXPECT_EQ(Checks(AF_INET).size(), 1u);
  EXPECT_EQ(Checks(AF_INET6).size(), 1u);

  const auto added = std::chrono::steady_clock::now();
  Ip("addr add 198.51.100.7/32 dev lo");
  ASSERT_TRUE(hwtest::WaitUntil([&] { return CheckCount() == 4; }, 20s)) << Trace();
  EXPECT_LT(std::chrono::steady_clock::now() - added, 6s);
  EXPECT_TRUE(TraceSays("extra check done")) << Trace();
  EXPECT_NE(Log().find("Host name updated; it now points to 198.51.100.7. (IPv4)"), std::string::npos) << Log();
}

}  // namespace

// The tests run in a namespace of their own: the program starts itself again inside one.
int main(int argc, char** argv) {
  if (!std::getenv("HOSTWARDEN_TEST_IN_NAMESPACE")) {
    ::setenv("HOSTWARDEN_TEST_IN_NAMESPACE", "1", 1);
    std::vector<char*> arguments{const_cast<char*>(HW_NAMESPACE_SCRIPT)};
    arguments.insert(arguments.end(), argv, argv + argc);
    arguments.push_back(nullptr);
    ::execv(HW_NAMESPACE_SCRIPT, arguments.data());
    std::perror(HW_NAMESPACE_SCRIPT);
    return 1;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
