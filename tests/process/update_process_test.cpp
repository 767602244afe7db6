// Self-update with the real programs in a program folder of the test's own: the updater takes only a
// newer build signed by the trusted key, and the client hands over to it and comes back new.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "fixtures/ChildProcess.h"
#include "fixtures/FakeService.h"
#include "fixtures/TempDir.h"
#include "fixtures/VersionRecord.h"
#include "platform/SingleInstance.h"
#include "update/SignedBuild.h"
#include "update/Version.h"

namespace {

using namespace std::chrono_literals;
using hwtest::ChildProcess;
using hwtest::ReadFileText;
using hwtest::Reply;
using hwtest::TempDir;
using hwtest::V;

namespace fs = std::filesystem;

// A stand-in client: notes which one was started, and carries the record of its version after the
// point where the shell stops reading.
std::string StandInClient(const std::string& name, const std::string& version) {
  return "#!/bin/sh\necho " + name + " > client-started\nexit 0\n" + hwtest::VersionRecord(version);
}

class SelfUpdate : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* file : {"Hostwarden", "loader.exe", "lang.ini"})
      fs::copy_file(std::string(HW_PROGRAM_DIR) + "/" + file, program.File(file));
  }

  std::map<std::string, std::string> Environment(const std::string& actions = {}) const {
    return {{"QT_QPA_PLATFORM", "offscreen"},
            {"XDG_RUNTIME_DIR", runtime.path()},
            {"HOSTWARDEN_TEST_TRACE", scratch.File("trace")},
            {"HOSTWARDEN_TEST_SETTINGS_DB", scratch.File("settings.db")},
            {"HOSTWARDEN_TEST_SERVICE_HOST", service.prefix()},
            {"HOSTWARDEN_TEST_UPDATE_KEY", hw::HexOf(key.publicKey)},
            {"HOSTWARDEN_TEST_ACTIONS", actions},
            {"LC_ALL", "en_US.UTF-8"}};
  }

  void PlaceClient(const std::string& bytes) {
    program.Write("Hostwarden", bytes);
    ::chmod(program.File("Hostwarden").c_str(), 0755);
  }
  std::string StartedClient() const {
    hwtest::WaitUntil([&] { return ReadFileText(program.File("client-started")).ends_with("\n"); }, 30s);
    return ReadFileText(program.File("client-started"));
  }
  bool TraceHas(const std::string& text) const {
    return hwtest::WaitUntil([&] { return ReadFileText(scratch.File("trace")).find(text) != std::string::npos; }, 60s);
  }

  TempDir program;
  TempDir runtime;
  TempDir scratch;
  hwtest::FakeService service;
  hw::KeyPair key = hw::MakeKeyPair();
};

TEST_F(SelfUpdate, UpdaterInstallsOnlyANewerBuildSignedByTheTrustedKey) {
  const std::string installed = StandInClient("old", "1.3.0.0");
  const std::string payload = StandInClient("new", "1.3.0.1");
  const std::string good = hw::SignBuild(payload, V("1.3.0.1"), key.secretKey);
  std::string tampered = good;
  tampered[tampered.size() - 30] ^= 1;
  struct Case {
    const char* what;
    std::string update;
    bool trustKey;
    bool installs;
  };
  const Case cases[] = {
      {"valid", good, true, true},
      {"tampered", tampered, true, false},
      {"truncated", good.substr(0, good.size() / 2), true, false},
      {"empty", "", true, false},
      {"unsigned", payload, true, false},
      {"signed by another key", hw::SignBuild(payload, V("1.3.0.1"), hw::MakeKeyPair().secretKey), true, false},
      {"older build replayed", hw::SignBuild(StandInClient("new", "1.2.0.0"), V("1.2.0.0"), key.secretKey), true,
       false},
      {"no trusted key", good, false, false},
  };
  for (const Case& c : cases) {
    PlaceClient(installed);
    fs::remove(program.File("client-started"));
    program.Write("hostwarden.ex_", c.update);
    auto environment = Environment();
    if (!c.trustKey) environment.erase("HOSTWARDEN_TEST_UPDATE_KEY");
    ChildProcess loader(program.File("loader.exe"), scratch.path(), environment);
    ASSERT_EQ(loader.WaitForExit(60s), 0) << c.what;
    EXPECT_EQ(ReadFileText(program.File("Hostwarden")), c.installs ? payload : installed) << c.what;
    EXPECT_FALSE(fs::exists(program.File("hostwarden.ex_"))) << c.what << ": removed whatever it held";
    EXPECT_EQ(StartedClient(), c.installs ? "new\n" : "old\n") << c.what;
    struct stat info {};
    ASSERT_EQ(::stat(program.File("Hostwarden").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0755u) << c.what;
  }
}

// The updater puts nothing in place while the client still runs (holds its guard).
TEST_F(SelfUpdate, UpdaterWaitsUntilTheClientHasEnded) {
  PlaceClient(StandInClient("old", "1.3.0.0"));
  const std::string payload = StandInClient("new", "1.3.0.1");
  program.Write("hostwarden.ex_", hw::SignBuild(payload, V("1.3.0.1"), key.secretKey));
  auto client = std::make_unique<hw::SingleInstanceLock>();
  ASSERT_TRUE(client->Acquire(runtime.File("Hostwarden.lock"), "hostwarden-test-waits"));

  ChildProcess loader(program.File("loader.exe"), scratch.path(), Environment());
  ASSERT_TRUE(TraceHas("waiting for the client to end"));
  EXPECT_TRUE(fs::exists(program.File("hostwarden.ex_")));
  EXPECT_FALSE(fs::exists(program.File("client-started")));
  client.reset();  // the client ends
  ASSERT_EQ(loader.WaitForExit(60s), 0);
  EXPECT_EQ(ReadFileText(program.File("Hostwarden")), payload);
  EXPECT_EQ(StartedClient(), "new\n");
}

// The whole road: a tick of the real client finds a newer build, downloads it, starts the updater
// and ends; the updater replaces the client and starts the new one.
TEST_F(SelfUpdate, ClientHandsOverAndComesBackNew) {
  const std::string payload = StandInClient("new", "1.3.0.1");
  service.Enqueue(Reply::Ok("2013\n6\n15\n10\n0\n0\n"));  // the start-up's clock
  service.Enqueue(Reply::Ok("2013\n6\n15\n10\n0\n0\n"));  // the tick's two readings
  service.Enqueue(Reply::Ok("2013\n6\n15\n10\n0\n0\n"));
  service.Enqueue(Reply::Ok("1.3.0.1"));
  service.Enqueue(Reply::Ok("1.3.0.1"));
  service.Enqueue(Reply::Ok(hw::SignBuild(payload, V("1.3.0.1"), key.secretKey)));

  ChildProcess client(program.File("Hostwarden"), scratch.path(), Environment("Timer1"));
  EXPECT_EQ(client.WaitForExit(60s), 0) << ReadFileText(scratch.File("trace"));
  EXPECT_EQ(StartedClient(), "new\n") << ReadFileText(scratch.File("trace"));
  EXPECT_EQ(ReadFileText(program.File("Hostwarden")), payload);
  EXPECT_FALSE(fs::exists(program.File("hostwarden.ex_")));
  EXPECT_TRUE(service.Requests().back().starts_with("GET /hostwarden1.3.0.1 HTTP/1.1\r\n"));
}

// The client's own version is read from its program file: the same program with another version
// in its file declines the build that the original takes.
TEST_F(SelfUpdate, OwnVersionComesFromTheProgramFile) {
  std::string bytes = ReadFileText(program.File("Hostwarden"));
  const auto at = bytes.find(hwtest::VersionRecord("1.3.0.0"));
  ASSERT_NE(at, std::string::npos);
  bytes.replace(at, hwtest::VersionRecord("1.3.0.9").size(), hwtest::VersionRecord("1.3.0.9"));
  PlaceClient(bytes);
  for (int reply = 0; reply < 3; ++reply) service.Enqueue(Reply::Ok("2013\n6\n15\n10\n0\n0\n"));
  service.Enqueue(Reply::Ok("1.3.0.5"));

  ChildProcess client(program.File("Hostwarden"), scratch.path(), Environment("Timer1,Exit1"));
  ASSERT_EQ(client.WaitForExit(60s), 0);
  EXPECT_EQ(service.Requests().size(), 4u) << "1.3.0.5 is older than 1.3.0.9: no download";
  EXPECT_FALSE(fs::exists(program.File("hostwarden.ex_")));
}

}  // namespace
