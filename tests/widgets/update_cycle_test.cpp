// The ten-minute update cycle, driven through its timer's own signal against the fake service.
#include <sys/stat.h>


#include <QScrollBar>
#include <filesystem>
#include <functional>
#include <thread>

#include "common/AppError.h"
#include "ddns/Envelope.h"
#include "fixtures/ChildProcess.h"
#include "fixtures/FileSizeLimit.h"
#include "fixtures/VersionRecord.h"
#include "shell/ProgramExit.h"
#include "update/SignedBuild.h"
#include "update/TrustedKey.h"
#include "widgets/support/ServiceFixture.h"
#include "widgets/support/Wiring.h"

namespace {

using hwtest::Reply;

constexpr const char* kOwnVersion = "1.3.0.0";  // this build's, as its program file records it
constexpr const char* kNewerVersion = "1.3.0.1";
const std::string kClockClosed = "2013\n6\n30\n0\n0\n1\n";

// Method and path of every request the service has had.
std::vector<std::string> PathsOf(hwtest::FakeService& service) {
  std::vector<std::string> paths;
  for (const std::string& request : service.Requests()) paths.push_back(request.substr(0, request.find(" HTTP/")));
  return paths;
}

class UpdateCycle : public ServiceFixture {
 protected:
  void SetUp() override {
    ServiceFixture::SetUp();
    main->MachineId = "001122334455";
    main->UserName = "alice";
    main->Password = "secret";
    main->Timer1->Enable();
    hw::SetTrustedUpdateKey(hw::HexOf(key.publicKey));
  }
  void TearDown() override {
    hw::SetTrustedUpdateKey({});
    ServiceFixture::TearDown();
  }

  void Tick() { hwtest::FireTimer(*main->Timer1); }

  std::vector<std::string> Paths() { return PathsOf(fake); }

  void EnqueueOpenTick(const std::string& version = kOwnVersion) {
    fake.Enqueue(Reply::Ok(kClockOpen));
    fake.Enqueue(Reply::Ok(kClockOpen));
    fake.Enqueue(Reply::Ok(version));
  }

  // An updater that notes that it was started, in the program folder (the working directory).
  void PlaceUpdater() {
    folder.Write("loader.exe", "#!/bin/sh\necho started > updater-started\n");
    ::chmod(folder.File("loader.exe").c_str(), 0755);
  }
  bool UpdaterStarted() const {
    return hwtest::WaitUntil([&] { return std::filesystem::exists(folder.File("updater-started")); },
                             std::chrono::seconds(30));
  }

  // A build of `version` as the service hands it out, signed by the key the client trusts.
  std::string SignedBuild(const std::string& version, const std::string& recorded = {}) const {
    const std::string program = "#!/bin/sh\n" + hwtest::VersionRecord(recorded.empty() ? version : recorded);
    return hw::SignBuild(program, hwtest::V(version.c_str()), key.secretKey);
  }
  std::string RefusedLine(const std::string& version = kNewerVersion) const {
    return "[Saturday 10:00] " + Text("30", version);
  }

  hw::KeyPair key = hw::MakeKeyPair();
};

TEST_F(UpdateCycle, OpenTickReadsTheClockTwiceChecksTheVersionAndQueries) {
  EnqueueOpenTick();
  fake.Enqueue(Reply::Ok("##203.0.113.7abcdefg"));
  Tick();
  EXPECT_EQ(Paths(), (std::vector<std::string>{"GET /now.php", "GET /now.php", "GET /", "POST /fo.php"}));
  EXPECT_EQ(BodyOf(fake.Requests()[3]), hw::BuildEnvelope("alice", "secret", "001122334455"));
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"[Saturday 10:00] " + Text("25", "203.0.113.7")}));
  EXPECT_EQ(main->NoticeTicks, 1);
  EXPECT_TRUE(main->Timer1->isActive());
}

// Only the second reading decides whether the service has closed; a closed tick writes one line,
// stamped with the first reading, and does nothing else.
TEST_F(UpdateCycle, SecondReadingDecidesTheClosedTick) {
  struct Case {
    const char* what;
    std::string first;
    std::string second;
    bool closed;
    const char* stamp;
  };
  const Case cases[] = {
      {"one second past the closing", kClockOpen, kClockClosed, true, "[Saturday 10:00]"},
      {"at the closing instant", kClockOpen, "2013\n6\n30\n0\n0\n0\n", false, ""},
      {"first before, second after", "2013\n6\n29\n23\n59\n59\n", "2013\n6\n30\n0\n0\n5\n", true, "[Saturday 23:59]"},
  };
  main->UserName = "al";  // no query: the open ticks end after the version check
  for (const Case& c : cases) {
    main->ListBox1->clear();
    main->NoticeTicks = 5;
    const std::size_t before = fake.Requests().size();
    fake.Enqueue(Reply::Ok(c.first));
    fake.Enqueue(Reply::Ok(c.second));
    if (!c.closed) fake.Enqueue(Reply::Ok(kOwnVersion));
    Tick();
    EXPECT_EQ(fake.Requests().size() - before, c.closed ? 2u : 3u) << c.what;
    EXPECT_EQ(main->NoticeTicks, c.closed ? 5 : 6) << c.what;
    const std::vector<std::string> closedLine{c.stamp + std::string(" Our DDNS service has been closed.")};
    EXPECT_EQ(LogLines(), c.closed ? closedLine : std::vector<std::string>{}) << c.what;
  }
}

TEST_F(UpdateCycle, ShortAccountSendsNoQueryButTheTickTidiesUp) {
  folder.Write("loader.ex_", "new updater");
  for (int line = 0; line < 1001; ++line) main->AddLogLine("line " + std::to_string(line));
  main->UserName = "al";
  EnqueueOpenTick();
  Tick();
  EXPECT_EQ(Paths().size(), 3u) << "no query";
  EXPECT_EQ(hwtest::ReadFileText(folder.File("loader.exe")), "new updater");
  EXPECT_EQ(main->ListBox1->count(), 1000);
  EXPECT_EQ(main->ListBox1->Line(0), "line 1");
}

// The tick brings the newest lines into view: at once in a window on screen, and in a hidden one
// when it is next shown (a list no one sees is never laid out, which would load the font engine).
TEST_F(UpdateCycle, LogKeepsAThousandLinesAndShowsTheNewest) {
  struct Case {
    int lines;
    int after;
    const char* first;
    bool shown;
  };
  main->UserName = "al";
  for (const Case c : {Case{12, 12, "line 0", true}, Case{1000, 1000, "line 0", true}, Case{1001, 1000, "line 1", true},
                       Case{12, 12, "line 0", false}, Case{1001, 1000, "line 1", false}}) {
    main->setVisible(c.shown);
    main->ListBox1->clear();
    for (int line = 0; line < c.lines; ++line) main->AddLogLine("line " + std::to_string(line));
    QListView* view = main->ListBox1->View();
    view->scrollToTop();
    EnqueueOpenTick();
    Tick();
    EXPECT_EQ(main->ListBox1->count(), c.after) << c.lines;
    EXPECT_EQ(main->ListBox1->Line(0).toStdString(), c.first) << c.lines;
    if (!c.shown) {
      EXPECT_EQ(view->verticalScrollBar()->value(), 0) << c.lines << ": hidden, not yet scrolled";
      main->show();
    }
    const QRect newest = view->visualRect(view->model()->index(c.after - 1, 0));
    EXPECT_TRUE(view->viewport()->rect().contains(newest)) << c.lines << ": the newest line is in view";
  }
}

// A client that only waits in the tray makes no list at all: its ticks keep the lines, and the
// window's first show makes the list with the newest lines in view.
TEST_F(UpdateCycle, AWindowNeverShownHasNoListUntilItIs) {
  main->UserName = "al";
  for (int line = 0; line < 1001; ++line) main->AddLogLine("line " + std::to_string(line));
  EnqueueOpenTick();
  Tick();
  EXPECT_EQ(main->findChild<QListView*>(), nullptr);
  main->show();
  QListView* view = main->findChild<QListView*>();
  ASSERT_NE(view, nullptr);
  const QRect newest = view->visualRect(view->model()->index(main->ListBox1->count() - 1, 0));
  EXPECT_TRUE(view->viewport()->rect().contains(newest));
}

TEST_F(UpdateCycle, FewerThanTwelveLinesLeaveTheViewAlone) {
  main->UserName = "al";
  for (int line = 0; line < 11; ++line) main->AddLogLine("line");
  main->show();
  QListView* view = main->ListBox1->View();
  view->setFixedHeight(40);  // too short for all of them
  view->scrollToBottom();
  const int scrolled = view->verticalScrollBar()->value();
  ASSERT_GT(scrolled, 0);
  EnqueueOpenTick();
  Tick();
  EXPECT_EQ(view->verticalScrollBar()->value(), scrolled);
}

TEST_F(UpdateCycle, NoticeComesBackEvery144Ticks) {
  SeedFlag("REG", true);  // reminders wanted
  main->UserName = "al";
  main->NoticeTicks = 143;
  EnqueueOpenTick();
  Tick();
  EXPECT_FALSE(notice->isVisible());
  EXPECT_EQ(main->NoticeTicks, 144);
  EnqueueOpenTick();
  Tick();
  EXPECT_TRUE(notice->isVisible());
  EXPECT_EQ(notice->Label1->text().toStdString(), "Our DDNS service will be \r\n15 days close");
  EXPECT_EQ(main->NoticeTicks, 1);
}

TEST_F(UpdateCycle, FailuresEndTheTickWhereTheyHappen) {
  struct Case {
    const char* what;
    std::vector<Reply> replies;
    std::vector<std::string> log;
    const char* box;  // nothing: no box
    std::vector<std::string> paths;
    std::int64_t noticeTicks;
  };
  const Reply unreachable = Reply::Raw("");
  std::vector<Case> cases;
  cases.push_back({"first clock request",
                   {unreachable},
                   {"[Saturday 00:00] ERROR: Connection Closed Gracefully."},
                   "List index out of bounds (3)",
                   {"GET /now.php"},
                   0});
  cases.push_back({"second clock request",
                   {Reply::Ok(kClockOpen), unreachable},
                   {"[Saturday 10:00] ERROR: Connection Closed Gracefully."},
                   "List index out of bounds (3)",
                   {"GET /now.php", "GET /now.php"},
                   0});
  cases.push_back({"version request",
                   {Reply::Ok(kClockOpen), Reply::Ok(kClockOpen),
                    Reply::Raw("HTTP/1.1 503 Busy\r\nContent-Length: 0\r\n\r\n"), Reply::Ok("!!")},
                   {"[Saturday 10:00] ERROR: HTTP/1.1 503 Busy", "[Saturday 10:00] " + Text("18")},
                   nullptr,
                   {"GET /now.php", "GET /now.php", "GET /", "POST /fo.php"},
                   1});
  cases.push_back({"version reply not dotted",
                   {Reply::Ok(kClockOpen), Reply::Ok(kClockOpen), Reply::Ok("2.0")},
                   {},
                   "'' is not a valid integer value.",
                   {"GET /now.php", "GET /now.php", "GET /"},
                   1});
  for (Case& c : cases) {
    hwtest::FakeService service;
    hw::SetServiceHost(service.prefix());
    hw::ServerNow = hw::DateTime();
    main->ListBox1->clear();
    main->NoticeTicks = 0;
    boxes.shown.clear();
    for (Reply& reply : c.replies) service.Enqueue(std::move(reply));
    Tick();
    EXPECT_EQ(LogLines(), c.log) << c.what;
    ASSERT_EQ(boxes.shown.size(), c.box ? 1u : 0u) << c.what;
    if (c.box) {
      EXPECT_EQ(boxes.shown[0].text, c.box) << c.what;
    }
    EXPECT_EQ(PathsOf(service), c.paths) << c.what;
    EXPECT_EQ(main->NoticeTicks, c.noticeTicks) << c.what;
    EXPECT_TRUE(main->Timer1->isActive()) << c.what;
  }
}

// Boxes that stay open while something else happens, as a person who is away leaves them.
class HoldingBoxes : public hw::MessageBoxes {
 public:
  hw::BoxAnswer Show(const hw::BoxRequest&) override {
    ++shown;
    if (whileOpen) std::exchange(whileOpen, nullptr)();
    return hw::BoxAnswer::Ok;
  }
  int shown = 0;
  std::function<void()> whileOpen;
};

// Left offline, every tick fails; only one box of the cycle is open at a time, whatever number of
// ticks fail while it stands, and each of them still logs its line.
TEST_F(UpdateCycle, OneErrorBoxAtATimeWhileTheServiceStaysAway) {
  auto holding = std::make_unique<HoldingBoxes>();
  HoldingBoxes& boxesNow = *holding;
  auto previous = hw::SetBoxes(std::move(holding));
  for (int tick = 0; tick < 50; ++tick) fake.Enqueue(Reply::Raw(""));
  boxesNow.whileOpen = [&] {
    for (int tick = 0; tick < 49; ++tick) Tick();
  };
  Tick();
  EXPECT_EQ(boxesNow.shown, 1);
  EXPECT_EQ(LogLines().size(), 50u);

  fake.Enqueue(Reply::Raw(""));
  Tick();
  EXPECT_EQ(boxesNow.shown, 2) << "once the box is closed, the next failure shows again";
  hw::SetBoxes(std::move(previous));
}

TEST_F(UpdateCycle, NewerBuildIsDownloadedCheckedAndHandedToTheUpdater) {
  PlaceUpdater();
  const std::string build = SignedBuild(kNewerVersion);
  EnqueueOpenTick(kNewerVersion);
  fake.Enqueue(Reply::Ok(kNewerVersion));
  fake.Enqueue(Reply::Ok(build));
  Tick();
  EXPECT_EQ(Paths(),
            (std::vector<std::string>{"GET /now.php", "GET /now.php", "GET /", "GET /", "GET /hostwarden1.3.0.1"}));
  EXPECT_EQ(hwtest::ReadFileText(folder.File("hostwarden.ex_")), build);
  EXPECT_TRUE(UpdaterStarted());
  EXPECT_TRUE(hw::ProgramExitRequested());
}

// Whatever becomes of an offered build short of a hand-off, the tick goes on with its query: a
// build that waits already is left to the updater, and one that the updater would refuse is
// removed and logged instead of ending the program.
TEST_F(UpdateCycle, BuildNotHandedOffLeavesTheQueryToGoOn) {
  const std::string reply = "[Saturday 10:00] " + Text("25", "203.0.113.7");
  // Each case offers a version of its own: a refused one is not fetched again in the same run.
  struct Case {
    const char* what;
    const char* version;
    bool fileWaits;  // something that is no build lies at the update file's name
    std::string secondVersion;
    std::vector<Reply> download;  // what the download gets, if it reaches the service
    const char* fetched;          // the download's path, when it reaches the service
    bool refused;                 // a whole transfer refused: logged, and passed over for the run
  };
  const auto signedBy = [](const hw::KeyPair& signer, const char* version, const char* recorded) {
    return Reply::Ok(hw::SignBuild("#!/bin/sh\n" + hwtest::VersionRecord(recorded), hwtest::V(version),
                                   signer.secretKey));
  };
  std::vector<Case> cases;
  cases.push_back({"the rest of an earlier download waits", "1.3.0.1", true, "1.3.0.1", {Reply::Ok("")},
                   "/hostwarden1.3.0.1", true});
  cases.push_back({"zero-length build", "1.3.0.2", false, "1.3.0.2", {Reply::Ok("")}, "/hostwarden1.3.0.2", true});
  cases.push_back({"an error page: tried again next time", "1.3.0.3", false, "1.3.0.3",
                   {Reply::Raw("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot here.")}, "/hostwarden1.3.0.3",
                   false});
  cases.push_back({"signed by another key", "1.3.0.4", false, "1.3.0.4",
                   {signedBy(hw::MakeKeyPair(), "1.3.0.4", "1.3.0.4")}, "/hostwarden1.3.0.4", true});
  cases.push_back({"header and program versions differ", "1.3.0.5", false, "1.3.0.5",
                   {signedBy(key, "1.3.0.5", "1.3.0.0")}, "/hostwarden1.3.0.5", true});
  cases.push_back({"second check finds nothing newer", "1.3.0.6", false, kOwnVersion, {Reply::Ok("any build")},
                   "/hostwarden", true});
  // The reply's line end goes into the address unchanged; such an address fetches nothing.
  cases.push_back({"version with a line end", "1.3.0.7", false, "1.3.0.7\r\n", {}, nullptr, false});
  for (Case& c : cases) {
    hwtest::TempDir programFolder;
    std::filesystem::current_path(programFolder.path());
    std::filesystem::copy_file(folder.File("lang.ini"), programFolder.File("lang.ini"));
    programFolder.Write("loader.exe", "#!/bin/sh\necho started > updater-started\n");
    ::chmod(programFolder.File("loader.exe").c_str(), 0755);
    if (c.fileWaits) programFolder.Write("hostwarden.ex_", "half a build");
    hwtest::FakeService service;
    hw::SetServiceHost(service.prefix());
    main->ListBox1->clear();
    service.Enqueue(Reply::Ok(kClockOpen));
    service.Enqueue(Reply::Ok(kClockOpen));
    service.Enqueue(Reply::Ok(c.version + std::string("\r\n")));
    service.Enqueue(Reply::Ok(c.secondVersion));
    for (Reply& download : c.download) service.Enqueue(std::move(download));
    service.Enqueue(Reply::Ok("##203.0.113.7abcdefg"));
    Tick();
    std::vector<std::string> paths{"GET /now.php", "GET /now.php", "GET /", "GET /"};
    if (c.fetched) paths.push_back("GET " + std::string(c.fetched));
    paths.push_back("POST /fo.php");
    EXPECT_EQ(PathsOf(service), paths) << c.what;
    const std::vector<std::string> refused{"[Saturday 10:00] " + Text("30", c.version), reply};
    EXPECT_EQ(LogLines(), c.refused ? refused : std::vector<std::string>{reply}) << c.what;
    EXPECT_FALSE(std::filesystem::exists(programFolder.File("hostwarden.ex_"))) << c.what << ": nothing is left";
    EXPECT_FALSE(hw::ProgramExitRequested()) << c.what;
    EXPECT_TRUE(boxes.shown.empty()) << c.what;
    std::filesystem::current_path(folder.path());
  }
}

// A valid build fetched before (its updater did not start) is handed over without a download; an
// updater that cannot be started keeps the program, and its check, running.
TEST_F(UpdateCycle, AValidBuildThatWaitsIsHandedOverAndAMissingUpdaterEndsNothing) {
  folder.Write("hostwarden.ex_", SignedBuild(kNewerVersion));
  EnqueueOpenTick(kNewerVersion);
  fake.Enqueue(Reply::Ok("##203.0.113.7abcdefg"));
  Tick();  // no updater in the folder
  EXPECT_FALSE(hw::ProgramExitRequested());
  EXPECT_EQ(Paths(), (std::vector<std::string>{"GET /now.php", "GET /now.php", "GET /", "POST /fo.php"}));
  EXPECT_TRUE(std::filesystem::exists(folder.File("hostwarden.ex_"))) << "kept for the next try";

  PlaceUpdater();
  EnqueueOpenTick(kNewerVersion);
  Tick();
  EXPECT_TRUE(UpdaterStarted());
  EXPECT_TRUE(hw::ProgramExitRequested());
  EXPECT_EQ(Paths().size(), 7u) << "no download: the waiting build is taken";
}

// A refused build is fetched once in a run, never again; the client stays and checks every tick.
TEST_F(UpdateCycle, RefusedBuildIsFetchedOnceAndTheChecksGoOn) {
  PlaceUpdater();
  EnqueueOpenTick(kNewerVersion);
  fake.Enqueue(Reply::Ok(kNewerVersion));
  fake.Enqueue(Reply::Ok(SignedBuild(kNewerVersion, "1.3.0.0")));  // the updater would refuse it
  fake.Enqueue(Reply::Ok("##203.0.113.7abcdefg"));
  Tick();
  for (int tick = 0; tick < 3; ++tick) {
    EnqueueOpenTick(kNewerVersion);
    fake.Enqueue(Reply::Ok("##203.0.113.7abcdefg"));
    Tick();
  }
  std::vector<std::string> expected{"GET /now.php", "GET /now.php", "GET /", "GET /", "GET /hostwarden1.3.0.1",
                                    "POST /fo.php"};
  for (int tick = 0; tick < 3; ++tick)
    expected.insert(expected.end(), {"GET /now.php", "GET /now.php", "GET /", "POST /fo.php"});
  EXPECT_EQ(Paths(), expected);
  const std::vector<std::string> log = LogLines();
  EXPECT_EQ(std::count(log.begin(), log.end(), RefusedLine()), 1);
  EXPECT_EQ(log.size(), 5u) << "the refusal and a reply line for each tick";
  EXPECT_FALSE(std::filesystem::exists(folder.File("hostwarden.ex_")));
  EXPECT_FALSE(hw::ProgramExitRequested());
  EXPECT_FALSE(std::filesystem::exists(folder.File("updater-started")));
}

// A build that trusts no key takes no build: nothing is downloaded, and the checks go on.
TEST_F(UpdateCycle, WithoutATrustedKeyNothingIsDownloaded) {
  hw::SetTrustedUpdateKey({});
  for (int tick = 0; tick < 2; ++tick) {
    EnqueueOpenTick(kNewerVersion);
    fake.Enqueue(Reply::Ok("##203.0.113.7abcdefg"));
    Tick();
  }
  EXPECT_EQ(Paths(), (std::vector<std::string>{"GET /now.php", "GET /now.php", "GET /", "POST /fo.php",
                                               "GET /now.php", "GET /now.php", "GET /", "POST /fo.php"}));
  EXPECT_EQ(LogLines().size(), 2u);
  EXPECT_FALSE(hw::ProgramExitRequested());
}

// The build cannot be saved (the disk fills up half-way): the runtime's text in the error box, no
// updater, the program runs on and its check goes out. The trace says whether the updater was started, and the tick
// starts it, if at all, before it returns: so its absence afterwards is certain.
TEST_F(UpdateCycle, BuildThatCannotBeSavedShowsTheFileErrorAndStartsNoUpdater) {
  PlaceUpdater();
  setenv("HOSTWARDEN_TEST_TRACE", folder.File("trace").c_str(), 1);
  EnqueueOpenTick(kNewerVersion);
  fake.Enqueue(Reply::Ok(kNewerVersion));
  fake.Enqueue(Reply::Ok(SignedBuild(kNewerVersion) + std::string(20000, 'p')));
  fake.Enqueue(Reply::Ok("##203.0.113.7abcdefg"));
  {
    const hwtest::FileSizeLimit limit(4000);
    Tick();
  }
  unsetenv("HOSTWARDEN_TEST_TRACE");
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, "Disk full.");
  EXPECT_FALSE(hw::ProgramExitRequested());
  EXPECT_EQ(hwtest::ReadFileText(folder.File("trace")).find("starting the updater"), std::string::npos);
  EXPECT_EQ(Paths().back(), "POST /fo.php") << "the check goes out all the same, before the box";
  EXPECT_FALSE(std::filesystem::exists(folder.File("hostwarden.ex_"))) << "no half build is left to block the next";
}

// Switching the cycle on while it runs keeps its period: the next tick is not put off. (The pause
// only lets some of the period pass; the check does not depend on how long it really took.)
TEST_F(UpdateCycle, EnablingARunningCycleKeepsItsPeriod) {
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  registration->show();
  registration->close();  // gives the cycle back, as any close of the dialog does
  EXPECT_TRUE(main->Timer1->isActive());
  EXPECT_LE(main->Timer1->remainingTime(), 600000 - 100);
}

// A tick that falls due while another one waits for the service runs inside it, on a connection of
// its own; both finish whole.
TEST_F(UpdateCycle, TickInsideAWaitingTickFinishesAndSoDoesTheOuterOne) {
  auto gate = std::make_shared<hwtest::Gate>();
  fake.Enqueue(Reply::Ok(kClockOpen).After(gate));   // the outer tick's first reading waits
  EnqueueOpenTick();                                 // the inner tick: first reading onward
  fake.Enqueue(Reply::Ok("##198.51.100.1abcdefg"));  // the inner tick's query
  fake.Enqueue(Reply::Ok(kClockOpen));               // the outer tick goes on
  fake.Enqueue(Reply::Ok(kOwnVersion));
  fake.Enqueue(Reply::Ok("##203.0.113.7abcdefg"));
  QTimer::singleShot(0, [&] {
    Tick();
    fake.Open(*gate);
  });
  Tick();
  EXPECT_EQ(fake.Requests().size(), 8u);
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"[Saturday 10:00] " + Text("25", "198.51.100.1"),
                                                  "[Saturday 10:00] " + Text("25", "203.0.113.7")}));
  EXPECT_EQ(main->NoticeTicks, 2);
  EXPECT_TRUE(boxes.shown.empty());
}

}  // namespace
