// hostwarden-daemon, the real program, against the fake service: its commands, its cycle and its
// signals, with the exact requests the tray client sends.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <regex>
#include <thread>

#include "ddns/Base64.h"
#include "ddns/Envelope.h"
#include "ddns/MachineIdentity.h"
#include "fixtures/ChildProcess.h"
#include "fixtures/DaemonTest.h"
#include "fixtures/FakeService.h"
#include "fixtures/RunningService.h"
#include "fixtures/TestCertificates.h"
#include "fixtures/TempDir.h"
#include "settings/SettingsStore.h"

namespace {

using namespace std::chrono_literals;
using hwtest::ChildProcess;
using hwtest::ReadFileText;
using hwtest::Reply;
using hwtest::TempDir;

using hwtest::kAfterClosing;
using hwtest::kBeforeClosing;
using hwtest::kDaemon;
using hwtest::kHeadTail;
using hwtest::kTray;
using Daemon = hwtest::DaemonTest;

TEST_F(Daemon, FirstRunWithoutAnAccountSaysHowToRegister) {
  const Ended run = RunToEnd({});
  EXPECT_EQ(run.status, 3);
  EXPECT_NE(run.output.find("register one with \"hostwarden-daemon register NAME\""), std::string::npos) << run.output;
  EXPECT_TRUE(service_.Requests().empty());
}

struct RegisterCase {
  const char* what;
  const char* typedName;
  const char* input;
  const char* reply;  // null: nothing may be sent
  int status;
  std::vector<std::string> said;
  bool stored;
};

TEST_F(Daemon, RegisterChecksSendsAndStoresAsTheDialogDoes) {
  const std::vector<RegisterCase> cases = {
      {"right", "Alice-1", "s3cret!\n", "##Welcome aboard", 0,
       {"The name alice-1 is now registered.\n", "Message from the service: Welcome aboard\n",
        "Your host name is updated every ten minutes.\n"},
       true},
      {"taken", "bob", "s3cret!\n", "%%", 1, {"The name \"bob\" is not available."}, false},
      {"minus sign at the end", "bob-", "s3cret!\n", nullptr, 2, {"may not begin or end with a minus sign"}, false},
      {"too short", "bo", "s3cret!\n", nullptr, 2, {"must be at least 3 characters"}, false},
      {"a character the field refuses", "bo_b", "s3cret!\n", nullptr, 2, {"Name: 3 to 16 letters"}, false},
      {"short password", "bob", "abc\n", nullptr, 2, {"password must be at least 6 characters"}, false},
      {"no password at all", "bob", "", nullptr, 2, {"no password was given"}, false},
  };
  for (const RegisterCase& c : cases) {
    std::filesystem::remove(scratch_.File("settings.db"));
    const std::size_t before = service_.Requests().size();
    if (c.reply) service_.Enqueue(Reply::Ok(c.reply));
    const Ended run = RunToEnd({"register", c.typedName}, c.input);
    EXPECT_EQ(run.status, c.status) << c.what << ": " << run.output;
    for (const std::string& said : c.said) EXPECT_NE(run.output.find(said), std::string::npos) << c.what << ": " << run.output;
    const auto requests = service_.Requests();
    ASSERT_EQ(requests.size(), before + (c.reply ? 1 : 0)) << c.what;
    if (c.reply) {
      const std::string name = c.status == 0 ? "alice-1" : c.typedName;
      EXPECT_EQ(requests.back(), Post("/sj.php", hw::BuildEnvelope(name, "s3cret!", machine_))) << c.what;
    }
    hw::SettingsAccess settings;
    const bool registered = settings.OpenSettings(false) && settings.SettingExists("REG") && settings.ReadFlag("REG");
    EXPECT_EQ(registered, c.stored) << c.what;
    if (c.stored) {
      EXPECT_EQ(settings.ReadText("username"), "alice-1");
      EXPECT_EQ(settings.ReadText("password"), hw::EncodeBase64("s3cret!"));
    }
  }
}

TEST_F(Daemon, RegisterWithTheServiceAwaySaysSo) {
  const std::string away = "http://127.0.0.1:1";
  const Ended run = RunToEnd({"register", "carol"}, "s3cret!\n", {{"HOSTWARDEN_TEST_SERVICE_HOST", away}});
  EXPECT_EQ(run.status, 4) << run.output;
  EXPECT_NE(run.output.find("ERROR: "), std::string::npos) << run.output;
}

// With an https service prefix every request goes over TLS: a registration and a tick go through
// when the certificate holds, and one that does not is logged as the request's error.
TEST_F(Daemon, SpeaksToAnHttpsServiceAndLogsACertificateItRefuses) {
  TempDir keys, data;
  const hwtest::TestAuthority authority(keys, "authority");
  const hwtest::IssuedCertificate valid = authority.Issue("valid", "IP:127.0.0.1");
  const hwtest::IssuedCertificate expired = authority.Issue("expired", "IP:127.0.0.1", hwtest::Validity::Expired);
  ASSERT_TRUE(valid.made && expired.made) << "openssl could not make the test certificates";
  const auto servedWith = [&](const hwtest::IssuedCertificate& served) {
    return std::make_unique<hwtest::RunningService>(
        "sqlite:" + data.File("dns.db"),
        std::vector<std::string>{"--tls-cert", served.certificate, "--tls-key", served.key});
  };
  const auto overTls = [&](const hwtest::RunningService& service) {
    return std::map<std::string, std::string>{
        {"HOSTWARDEN_TEST_SERVICE_HOST", "https://127.0.0.1:" + std::to_string(service.port())},
        {"SSL_CERT_FILE", authority.certificate()},
        {"HOSTWARDEN_TEST_TICKS", "1"}};
  };
  {
    const auto service = servedWith(valid);
    const Ended registered = RunToEnd({"register", "alice"}, "s3cret!\n", overTls(*service));
    EXPECT_EQ(registered.status, 0) << registered.output;
    EXPECT_NE(registered.output.find("The name alice is now registered.\n"), std::string::npos) << registered.output;
    const Ended ticked = RunToEnd({}, {}, overTls(*service));
    EXPECT_EQ(ticked.status, 0) << ticked.output;
    EXPECT_EQ(Count(ticked.output, "Host name updated; it now points to 127.0.0.1."), 2u) << ticked.output;
  }
  const auto refusing = servedWith(expired);
  auto environment = overTls(*refusing);
  environment.merge(Environment());
  ChildProcess daemon(kDaemon, scratch_.path(), environment, {}, scratch_.File("output"));
  const std::regex logged(R"((^|\n)\[[^\]\n]+\] ERROR: TLS handshake failed: certificate has expired\n)");
  EXPECT_TRUE(hwtest::WaitUntil([&] { return std::regex_search(ReadFileText(scratch_.File("output")), logged); }, 30s))
      << ReadFileText(scratch_.File("output"));
}

// Installed with the project's repository as an apt source, the daemon says how to upgrade.
TEST_F(Daemon, ANewerVersionNamesTheUpgradeWhenTheRepositoryIsASource) {
  StoreAccount("alice", "secret");
  for (const char* reply : {kBeforeClosing, kBeforeClosing, "##203.0.113.9abcdefg"}) service_.Enqueue(Reply::Ok(reply));
  for (const char* reply : {kBeforeClosing, kBeforeClosing, "1.3.0.9", "##203.0.113.9abcdefg"})
    service_.Enqueue(Reply::Ok(reply));
  const std::string source = scratch_.Write("hostwarden.sources", "Types: deb\n");
  const Ended run = RunToEnd({}, {}, {{"HOSTWARDEN_TEST_TICKS", "1"}, {"HOSTWARDEN_TEST_APT_SOURCE", source}});
  EXPECT_EQ(Count(run.output, "Version 1.3.0.9 is available; install it with \"sudo apt upgrade\"."), 1u) << run.output;
}

TEST_F(Daemon, TicksSendTheClientsRequestsInOrderAndStatusShowsTheLastReply) {
  StoreAccount("alice", "secret");
  const std::string envelope = hw::BuildEnvelope("alice", "secret", machine_);
  for (const char* reply : {kBeforeClosing, kBeforeClosing, "##203.0.113.9abcdefg"}) service_.Enqueue(Reply::Ok(reply));
  for (int tick = 0; tick < 2; ++tick) {
    // A newer version on both ticks: said once, never downloaded.
    for (const char* reply : {kBeforeClosing, kBeforeClosing, "1.3.0.9", "##203.0.113.10abcdefg"})
      service_.Enqueue(Reply::Ok(reply));
  }
  const Ended run = RunToEnd({}, {}, {{"HOSTWARDEN_TEST_TICKS", "2"}});
  EXPECT_EQ(run.status, 0) << run.output;

  std::vector<std::string> expected = {Get("/now.php", false), Get("/now.php", false), Post("/fo.php", envelope)};
  for (int tick = 0; tick < 2; ++tick) {
    expected.insert(expected.end(), {Get("/now.php", true), Get("/now.php", true), Get("/", true),
                                     Post("/fo.php", envelope)});
  }
  EXPECT_EQ(service_.Requests(), expected);
  EXPECT_NE(run.output.find("Host name updated; it now points to 203.0.113.9.\n"), std::string::npos) << run.output;
  EXPECT_EQ(Count(run.output, "Version 1.3.0.9 is available; install it with your package manager."), 1u)
      << run.output;
  EXPECT_EQ(Count(run.output, "[Notification] Our DDNS service will be "), 3u) << "a countdown line after each query";

  const Ended status = RunToEnd({"status"});
  EXPECT_EQ(status.status, 0);
  EXPECT_EQ(status.output, "Account: alice\nHost name: alice.hostwarden.test\nMachine id: " + machine_ +
                               "\nBoth address families: off\nAddress watch: off"
                               "\nLast reply: [Saturday 10:00] Host name updated; it now points to 203.0.113.10.\n"
                               "Replied at: 2013-06-15 10:00:00 (service clock)\n");
}

struct SetCase {
  std::vector<std::string> arguments;
  int status;
  const char* statusLines;  // what "status" says of the choices after it
};

TEST_F(Daemon, SetKeepsTheChoicesInTheSettingsAndStatusSaysThem) {
  StoreAccount("alice", "secret");
  const std::vector<SetCase> cases = {
      {{"set", "dual-stack", "on"}, 0, "Both address families: on\nAddress watch: off\n"},
      {{"set", "watch-address", "on"}, 0, "Both address families: on\nAddress watch: on\n"},
      {{"set", "dual-stack", "off"}, 0, "Both address families: off\nAddress watch: on\n"},
      {{"set", "dual-stack", "yes"}, 2, "Both address families: off\nAddress watch: on\n"},
      {{"set", "remind", "on"}, 2, "Both address families: off\nAddress watch: on\n"},
  };
  for (const SetCase& c : cases) {
    EXPECT_EQ(RunToEnd(c.arguments).status, c.status) << c.arguments[1] << " " << c.arguments[2];
    const Ended status = RunToEnd({"status"});
    EXPECT_NE(status.output.find(c.statusLines), std::string::npos) << status.output;
  }
  // A value of another type fails as every number of the settings does.
  {
    hw::SettingsAccess settings;
    ASSERT_TRUE(settings.OpenSettings(true));
    settings.WriteText("DualStack", "on");
  }
  const Ended status = RunToEnd({"status"});
  EXPECT_EQ(status.status, 5);
  EXPECT_NE(status.output.find("Invalid data type for 'DualStack'"), std::string::npos) << status.output;
}

TEST_F(Daemon, StatusRefusesALastReplyFileItDidNotWrite) {
  StoreAccount("alice", "secret");
  const std::string file = scratch_.File("daemon-last-reply");
  const std::vector<std::pair<const char*, std::function<void()>>> cases = {
      {"too long", [&] { std::ofstream(file) << "2013-06-15 10:00:00\n" << std::string(5000, 'x') << "\n"; }},
      {"one line", [&] { std::ofstream(file) << "2013-06-15 10:00:00"; }},
      {"a link", [&] { std::filesystem::create_symlink(scratch_.File("settings.db"), file); }},
      {"a folder", [&] { std::filesystem::create_directory(file); }},
  };
  for (const auto& [what, plant] : cases) {
    std::filesystem::remove_all(file);
    plant();
    const Ended status = RunToEnd({"status"});
    EXPECT_EQ(status.status, 0) << what;
    EXPECT_NE(status.output.find("\nLast reply: none yet\n"), std::string::npos) << what << ": " << status.output;
  }
}

// What a member of the settings folder's group may put at the last reply's name: a FIFO (whose open
// for writing would wait for a reader), a link, a folder. None makes the daemon wait past SIGTERM or
// write elsewhere; the FIFO and the link are replaced by a record file of the daemon's own.
TEST_F(Daemon, NothingAtTheLastReplysNameHoldsTheDaemon) {
  StoreAccount("alice", "secret");
  const std::string file = scratch_.File("daemon-last-reply");
  const std::string victim = scratch_.File("victim");
  struct Case {
    const char* what;
    std::function<void()> plant;
    bool replaced;
  };
  const Case cases[] = {
      {"a FIFO", [&] { ASSERT_EQ(::mkfifo(file.c_str(), 0660), 0); }, true},
      {"a link", [&] { std::filesystem::create_symlink(victim, file); }, true},
      {"a folder", [&] { std::filesystem::create_directory(file); }, false},
  };
  for (const Case& c : cases) {
    std::ofstream(victim) << "victim";
    std::filesystem::remove_all(file);
    c.plant();
    for (const char* reply : {kBeforeClosing, kBeforeClosing, "##203.0.113.9abcdefg"}) service_.Enqueue(Reply::Ok(reply));
    const std::string output = scratch_.File(std::string("output-") + c.what);
    ChildProcess daemon(kDaemon, scratch_.path(), Environment(), {}, output);
    const auto saved = [&] {
      return c.replaced ? std::filesystem::is_regular_file(file) && std::filesystem::file_size(file) == 1024
                        : ReadFileText(output).find("cannot save") != std::string::npos;
    };
    for (int wait = 0; wait < 100 && !saved(); ++wait) std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(saved()) << c.what << ": " << ReadFileText(output);
    daemon.Signal(SIGTERM);
    EXPECT_EQ(daemon.WaitForExit(1s), 0) << c.what << ": within a second";
    EXPECT_EQ(ReadFileText(victim), "victim") << c.what;
    const Ended status = RunToEnd({"status"});
    const bool shown = status.output.find("Host name updated; it now points to 203.0.113.9.") != std::string::npos;
    EXPECT_EQ(shown, c.replaced) << c.what << ": " << status.output;
  }
}

// A record written over a longer file leaves a record, not the rest of the old file; the service's
// words reach the terminal with their control bytes shown, not obeyed.
TEST_F(Daemon, TheLastReplyIsWrittenWholeAndShownWithoutControlBytes) {
  StoreAccount("alice", "secret");
  std::ofstream(scratch_.File("daemon-last-reply")) << std::string(5000, 'x');
  for (const char* reply : {kBeforeClosing, kBeforeClosing, "##\x1b]0;owned\x07" "abcdefg"})
    service_.Enqueue(Reply::Ok(reply));
  const std::string output = scratch_.File("output");
  ChildProcess daemon(kDaemon, scratch_.path(), Environment(), {}, output);
  const auto saved = [&] { return std::filesystem::file_size(scratch_.File("daemon-last-reply")) == 1024; };
  for (int wait = 0; wait < 100 && !saved(); ++wait) std::this_thread::sleep_for(50ms);
  ASSERT_TRUE(saved()) << ReadFileText(output);
  daemon.Signal(SIGTERM);
  EXPECT_EQ(daemon.WaitForExit(1s), 0);
  const Ended status = RunToEnd({"status"});
  EXPECT_NE(status.output.find("\nLast reply: [Saturday 10:00] Host name updated; it now points to "
                               "\\x1b]0;owned\\x07.\n"),
            std::string::npos)
      << status.output;
  EXPECT_EQ(status.output.find('\x1b'), std::string::npos);
}

TEST_F(Daemon, HangUpReadsTheAccountAgainAndChecksAtOnce) {
  StoreAccount("alice", "secret");
  for (const char* reply : {kBeforeClosing, kBeforeClosing, "##203.0.113.9abcdefg", "##203.0.113.9abcdefg"})
    service_.Enqueue(Reply::Ok(reply));
  auto environment = Environment();
  environment.erase("HOSTWARDEN_TEST_SPEEDUP");  // no tick comes between
  ChildProcess daemon(kDaemon, scratch_.path(), environment, {}, scratch_.File("output"));
  ASSERT_TRUE(WaitingForTheFirstTick());
  StoreAccount("bob", "secret2");
  daemon.Signal(SIGHUP);
  ASSERT_TRUE(service_.WaitForRequests(4));
  EXPECT_EQ(service_.Requests()[3], Post("/fo.php", hw::BuildEnvelope("bob", "secret2", machine_)));
  EXPECT_FALSE(daemon.WaitForExit(0ms).has_value()) << "it keeps running";
}

TEST_F(Daemon, ClosedServiceIsLoggedAndNothingIsSent) {
  StoreAccount("alice", "secret");
  for (int i = 0; i < 4; ++i) service_.Enqueue(Reply::Ok(kAfterClosing));
  const Ended run = RunToEnd({}, {}, {{"HOSTWARDEN_TEST_TICKS", "1"}});
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(service_.Requests(), (std::vector<std::string>{Get("/now.php", false), Get("/now.php", false),
                                                           Get("/now.php", false), Get("/now.php", false)}));
  EXPECT_EQ(Count(run.output, "has been closed"), 2u) << "at the start and at the tick: " << run.output;
}

TEST_F(Daemon, UnreachableAtStartIsTriedAgain) {
  StoreAccount("alice", "secret");
  service_.Enqueue(Reply::Raw(""));  // the connection closes unanswered
  for (const char* reply : {kBeforeClosing, kBeforeClosing, "##203.0.113.9abcdefg"}) service_.Enqueue(Reply::Ok(reply));
  ChildProcess daemon(kDaemon, scratch_.path(), Environment(), {}, scratch_.File("output"));
  ASSERT_TRUE(WaitingForTheFirstTick());
  EXPECT_EQ(service_.Requests().size(), 4u);
  EXPECT_NE(ReadFileText(scratch_.File("output")).find(" ERROR: "), std::string::npos);
  EXPECT_NE(ReadFileText(scratch_.File("output")).find("it now points to 203.0.113.9."), std::string::npos);
}

TEST_F(Daemon, ReleaseDeletesTheAccountThenTellsTheService) {
  StoreAccount("alice", "secret");
  const Ended unconfirmed = RunToEnd({"release"});
  EXPECT_EQ(unconfirmed.status, 2) << "nobody at a terminal to ask: " << unconfirmed.output;
  EXPECT_TRUE(service_.Requests().empty());

  service_.Enqueue(Reply::Ok(kBeforeClosing));
  service_.Enqueue(Reply::Ok("^^"));
  const Ended run = RunToEnd({"release", "--yes"});
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(service_.Requests(), (std::vector<std::string>{Get("/now.php", false),
                                                           Post("/lk.php", hw::BuildEnvelope("alice", "secret", machine_))}));
  EXPECT_NE(run.output.find("Domain name released\n"), std::string::npos) << run.output;
  hw::SettingsAccess settings;
  EXPECT_FALSE(settings.OpenSettings(false)) << "the key is gone";
  EXPECT_EQ(RunToEnd({"status"}).status, 3);
}

TEST_F(Daemon, ReleaseWithTheServiceAwayKeepsTheAccount) {
  StoreAccount("alice", "secret");
  const Ended run = RunToEnd({"release", "--yes"}, {}, {{"HOSTWARDEN_TEST_SERVICE_HOST", "http://127.0.0.1:1"}});
  EXPECT_EQ(run.status, 4) << run.output;
  hw::SettingsAccess settings;
  EXPECT_TRUE(settings.OpenSettings(false) && settings.ReadFlag("REG"));
}

TEST_F(Daemon, TerminationDuringAWaitingRequestEndsAtOnceAndFreesTheSettings) {
  StoreAccount("alice", "secret");
  service_.Enqueue(Reply::Silent());
  ChildProcess daemon(kDaemon, scratch_.path(), Environment(), {}, scratch_.File("output"));
  ASSERT_TRUE(service_.WaitForRequests(1));
  daemon.Signal(SIGTERM);
  EXPECT_EQ(daemon.WaitForExit(1s), 0) << "within a second, cleanly";
  const int folder = ::open(scratch_.path().c_str(), O_RDONLY | O_DIRECTORY);
  EXPECT_EQ(::flock(folder, LOCK_EX | LOCK_NB), 0) << "the settings are free again";
  ::close(folder);
}

TEST_F(Daemon, TrayClientAndDaemonNeverKeepOneSettingsFileTogether) {
  StoreAccount("alice", "secret");
  for (const char* reply : {kBeforeClosing, kBeforeClosing, "##203.0.113.9abcdefg"}) service_.Enqueue(Reply::Ok(reply));
  {
    ChildProcess daemon(kDaemon, scratch_.path(), Environment(), {}, scratch_.File("output"));
    ASSERT_TRUE(WaitingForTheFirstTick());
    auto environment = Environment();
    environment["QT_QPA_PLATFORM"] = "offscreen";
    environment["HOSTWARDEN_TEST_TRACE"] = scratch_.File("tray.trace");
    ChildProcess tray(kTray, scratch_.path(), environment);
    EXPECT_EQ(tray.WaitForExit(60s), 0);
    EXPECT_EQ(ReadFileText(scratch_.File("tray.trace")),
              "box information [Information] Another Hostwarden program already keeps this computer's name up to "
              "date, so this one closes.\n");
  }
  // The other way round: the tray client runs, the daemon refuses.
  for (const char* reply : {kBeforeClosing, kBeforeClosing, "##203.0.113.9abcdefg"}) service_.Enqueue(Reply::Ok(reply));
  auto environment = Environment();
  environment["QT_QPA_PLATFORM"] = "offscreen";
  environment["HOSTWARDEN_TEST_TRACE"] = scratch_.File("tray2.trace");
  ChildProcess tray(kTray, scratch_.path(), environment);
  ASSERT_TRUE(hwtest::WaitUntil(
      [&] { return ReadFileText(scratch_.File("tray2.trace")).find("event loop") != std::string::npos; }, 60s));
  const Ended run = RunToEnd({});
  EXPECT_EQ(run.status, 6);
  EXPECT_NE(run.output.find("another Hostwarden program (the tray client or a daemon) already keeps the account"),
            std::string::npos)
      << run.output;
}

}  // namespace
