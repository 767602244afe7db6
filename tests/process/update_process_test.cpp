// Self-update with the real programs in a program folder of the test's own: the updater takes only a
// newer build signed by the trusted key, and the client hands over to it and comes back new.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>

#include "fixtures/ChildProcess.h"
#include "fixtures/FakeService.h"
#include "fixtures/TempDir.h"
#include "fixtures/VersionRecord.h"
#include "ddns/Base64.h"
#include "platform/SingleInstance.h"
#include "settings/SettingsStore.h"
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
      {"header newer than the program's record", hw::SignBuild(payload, V("1.3.0.9"), key.secretKey), true, false},
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

// Whatever lies at the update file's name, the updater neither waits on it nor follows it: it is
// refused, removed (a link, not its target), and the client comes back unchanged.
TEST_F(SelfUpdate, UpdaterRefusesAnythingButARegularUpdateFile) {
  const std::string installed = StandInClient("old", "1.3.0.0");
  TempDir elsewhere;
  const std::string linked =
      elsewhere.Write("build", hw::SignBuild(StandInClient("new", "1.3.0.1"), V("1.3.0.1"), key.secretKey));
  struct Case {
    const char* what;
    std::function<bool(const std::string&)> plant;  // false: cannot be made here
  };
  const Case cases[] = {
      {"FIFO", [](const std::string& path) { return ::mkfifo(path.c_str(), 0600) == 0; }},
      {"symbolic link to a valid build",
       [&](const std::string& path) { return ::symlink(linked.c_str(), path.c_str()) == 0; }},
      {"device", [](const std::string& path) { return ::mknod(path.c_str(), S_IFCHR | 0600, makedev(1, 5)) == 0; }},
      {"empty folder", [](const std::string& path) { return ::mkdir(path.c_str(), 0700) == 0; }},
  };
  for (const Case& c : cases) {
    PlaceClient(installed);
    fs::remove(program.File("client-started"));
    if (!c.plant(program.File("hostwarden.ex_"))) {
      ASSERT_NE(::geteuid(), 0u) << c.what;  // only a device needs root to be made
      continue;
    }
    ChildProcess loader(program.File("loader.exe"), scratch.path(), Environment());
    ASSERT_EQ(loader.WaitForExit(10s), 0) << c.what << ": the updater must not wait on it";
    EXPECT_EQ(ReadFileText(program.File("Hostwarden")), installed) << c.what;
    EXPECT_FALSE(fs::exists(fs::symlink_status(program.File("hostwarden.ex_")))) << c.what;
    EXPECT_EQ(StartedClient(), "old\n") << c.what;
    EXPECT_NE(ReadFileText(scratch.File("trace")).find("refused hostwarden.ex_"), std::string::npos) << c.what;
  }
  EXPECT_TRUE(fs::exists(linked));
}

// The new client never inherits a set-user-ID bit, and a link planted at the name the updater once
// wrote through leads nowhere.
TEST_F(SelfUpdate, UpdaterKeepsNoPrivilegeBitAndFollowsNoPlantedLink) {
  PlaceClient(StandInClient("old", "1.3.0.0"));
  ASSERT_EQ(::chmod(program.File("Hostwarden").c_str(), 04755), 0);
  TempDir elsewhere;
  const std::string victim = elsewhere.Write("victim", "untouched");
  fs::create_symlink(victim, program.File("Hostwarden.new"));
  const std::string payload = StandInClient("new", "1.3.0.1");
  program.Write("hostwarden.ex_", hw::SignBuild(payload, V("1.3.0.1"), key.secretKey));
  ChildProcess loader(program.File("loader.exe"), scratch.path(), Environment());
  ASSERT_EQ(loader.WaitForExit(10s), 0);
  EXPECT_EQ(ReadFileText(program.File("Hostwarden")), payload);
  struct stat info {};
  ASSERT_EQ(::lstat(program.File("Hostwarden").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0755u);
  EXPECT_EQ(ReadFileText(victim), "untouched");
  EXPECT_EQ(StartedClient(), "new\n");
}

// In a folder that others may write, the updater installs nothing, and starts the client again.
TEST_F(SelfUpdate, UpdaterRefusesAFolderThatOthersMayWrite) {
  const std::string installed = StandInClient("old", "1.3.0.0");
  PlaceClient(installed);
  program.Write("hostwarden.ex_", hw::SignBuild(StandInClient("new", "1.3.0.1"), V("1.3.0.1"), key.secretKey));
  ASSERT_EQ(::chmod(program.path().c_str(), 0777), 0);
  ChildProcess loader(program.File("loader.exe"), scratch.path(), Environment());
  ASSERT_EQ(loader.WaitForExit(10s), 0);
  EXPECT_EQ(ReadFileText(program.File("Hostwarden")), installed);
  EXPECT_FALSE(fs::exists(program.File("hostwarden.ex_")));
  EXPECT_EQ(StartedClient(), "old\n");
  EXPECT_NE(ReadFileText(scratch.File("trace")).find("refused to work in a program folder that others may write"),
            std::string::npos);
}

// The signing tool signs only a program that records the version it is signed as.
TEST_F(SelfUpdate, SigningToolRefusesAProgramOfAnotherVersion) {
  const std::string secret = scratch.Write("secret.key", hw::HexOf(key.secretKey) + "\n");
  const std::string programFile = scratch.Write("program", StandInClient("new", "1.3.0.1"));
  struct Case {
    const char* version;
    int exit;
  };
  for (const Case c : {Case{"1.3.0.9", 1}, Case{"1.3.0.1", 0}}) {
    const std::string signedFile = scratch.File(std::string("signed-") + c.version);
    ChildProcess tool(HW_SIGN_TOOL, scratch.path(), {}, {"sign", secret, c.version, programFile, signedFile});
    EXPECT_EQ(tool.WaitForExit(30s), c.exit) << c.version;
    EXPECT_EQ(fs::exists(signedFile), c.exit == 0) << c.version;
  }
}

// A package upgrade replaces or removes the program file under the running client: its own version
// is still the one it was started as. Offered that same version, it fetches nothing.
TEST_F(SelfUpdate, ProgramFileReplacedWhileRunningKeepsItsOwnVersion) {
  const std::string original = ReadFileText(program.File("Hostwarden"));
  std::string older = original;
  const auto at = older.find(hwtest::VersionRecord("1.3.0.0"));
  ASSERT_NE(at, std::string::npos);
  older.replace(at, hwtest::VersionRecord("1.2.0.0").size(), hwtest::VersionRecord("1.2.0.0"));
  struct Case {
    const char* what;
    std::function<void()> replace;
  };
  const Case cases[] = {
      {"removed", [&] { fs::remove(program.File("Hostwarden")); }},
      {"replaced by an older build", [&] { fs::rename(program.Write("Hostwarden.next", older), program.File("Hostwarden")); }},
  };
  for (const Case& c : cases) {
    PlaceClient(original);
    hwtest::FakeService offering;
    auto gate = std::make_shared<hwtest::Gate>();
    offering.Enqueue(Reply::Ok("2013\n6\n15\n10\n0\n0\n"));  // the start-up's clock
    offering.Enqueue(Reply::Ok("2013\n6\n15\n10\n0\n0\n").After(gate));
    offering.Enqueue(Reply::Ok("2013\n6\n15\n10\n0\n0\n"));
    offering.Enqueue(Reply::Ok("1.3.0.0"));
    auto environment = Environment("Timer1,Exit1");
    environment["HOSTWARDEN_TEST_SERVICE_HOST"] = offering.prefix();
    ChildProcess client(program.File("Hostwarden"), scratch.path(), environment);
    ASSERT_TRUE(offering.WaitForRequests(2)) << c.what;  // the tick waits for its first reading
    c.replace();
    offering.Open(*gate);
    ASSERT_EQ(client.WaitForExit(60s), 0) << c.what;
    EXPECT_EQ(offering.Requests().size(), 4u) << c.what << ": 1.3.0.0 is not newer than itself";
  }
}

// An installed client: its program folder is not the running user's to write. Offered a newer
// version at every tick, it says once that the package manager brings it, and checks every time.
TEST(InstalledClient, NewerBuildOfferedSendsEveryCheckAndSaysOnce) {
  TempDir root, state;
  ASSERT_EQ(::chmod(root.path().c_str(), 0755), 0);
  const std::string install = "DESTDIR=" + root.path() + " cmake --install " HW_BINARY_DIR " --component client >/dev/null";
  ASSERT_EQ(std::system(install.c_str()), 0);
  std::string launcher;
  for (const auto& entry : fs::recursive_directory_iterator(root.path()))
    if (entry.path().filename() == "hostwarden" && entry.path().parent_path().filename() == "bin")
      launcher = entry.path().string();
  ASSERT_FALSE(launcher.empty());
  const fs::path programFolder = fs::path(launcher).parent_path().parent_path() / "lib/hostwarden";

  // The user: nobody when the tests run as root, else this user with the folder made read-only.
  const bool asRoot = ::geteuid() == 0;
  const uid_t user = asRoot ? 65534 : ::geteuid();
  if (!asRoot) fs::permissions(programFolder, fs::perms::owner_write, fs::perm_options::remove);
  ASSERT_EQ(::chmod(state.path().c_str(), 0700), 0);
  ASSERT_EQ(::mkdir(state.File("runtime").c_str(), 0700), 0);
  hw::SetSettingsFile(state.File("settings.db"));
  {
    hw::SettingsAccess settings;
    ASSERT_TRUE(settings.OpenSettings(true));
    settings.WriteText("username", "alice");
    settings.WriteText("password", hw::EncodeBase64("secret"));
    settings.WriteFlag("REG", true);
  }
  for (const std::string& path : {state.path(), state.File("runtime"), state.File("settings.db")})
    ASSERT_EQ(::chown(path.c_str(), user, user), 0);

  constexpr int kTicks = 20;
  hwtest::FakeService service;
  const std::string clock = "2013\n6\n15\n10\n0\n0\n";
  service.Enqueue(Reply::Ok(clock));  // the start-up's reading and its closing test
  service.Enqueue(Reply::Ok(clock));
  service.Enqueue(Reply::Ok("##203.0.113.7abcdefg"));
  for (int tick = 0; tick < kTicks; ++tick) {
    for (const char* body : {clock.c_str(), clock.c_str(), "1.3.0.9", "##203.0.113.7abcdefg"})
      service.Enqueue(Reply::Ok(body));
  }
  const std::map<std::string, std::string> environment{
      {"QT_QPA_PLATFORM", "offscreen"},
      {"XDG_RUNTIME_DIR", state.File("runtime")},
      {"HOSTWARDEN_TEST_TRACE", state.File("trace")},
      {"HOSTWARDEN_TEST_SETTINGS_DB", state.File("settings.db")},
      {"HOSTWARDEN_TEST_SERVICE_HOST", service.prefix()},
      {"HOSTWARDEN_TEST_UPDATE_KEY", hw::HexOf(hw::MakeKeyPair().publicKey)},
      {"HOSTWARDEN_TEST_ACTIONS", "Timer1*" + std::to_string(kTicks) + ",Exit1"},
      {"LC_ALL", "en_US.UTF-8"}};
  const std::string uid = std::to_string(user);
  const std::vector<std::string> dropToUser{"--reuid=" + uid, "--regid=" + uid, "--clear-groups", "--", launcher};
  ChildProcess client(asRoot ? "/usr/bin/setpriv" : launcher, state.path(), environment,
                      asRoot ? dropToUser : std::vector<std::string>{}, state.File("output"));
  ASSERT_EQ(client.WaitForExit(120s), 0) << ReadFileText(state.File("output"));
  const std::string output = ReadFileText(state.File("output"));
  const std::vector<std::string> requests = service.Requests();
  const auto count = [&](const std::string& start) {
    return std::count_if(requests.begin(), requests.end(), [&](const std::string& r) { return r.starts_with(start); });
  };
  EXPECT_EQ(count("POST /fo.php "), kTicks + 1) << output;
  EXPECT_EQ(count("GET /hostwarden"), 0);
  const std::string said = "Version 1.3.0.9 is available; install it with your package manager.";
  std::size_t times = 0;
  for (auto at = output.find(said); at != std::string::npos; at = output.find(said, at + 1)) ++times;
  EXPECT_EQ(times, 1u) << output;
  EXPECT_EQ(ReadFileText(state.File("trace")).find("box "), std::string::npos) << ReadFileText(state.File("trace"));
  EXPECT_FALSE(fs::exists(programFolder / "hostwarden.ex_"));
}

}  // namespace
