// The real program, started as a user would start it: one copy per logon, from any folder, and
// never without its language file.
#include <gtest/gtest.h>

#include <filesystem>

#include "fixtures/ChildProcess.h"
#include "fixtures/FakeService.h"
#include "fixtures/TempDir.h"

namespace {

using namespace std::chrono_literals;
using hwtest::ChildProcess;
using hwtest::ReadFileText;
using hwtest::TempDir;

const std::string kProgram = std::string(HW_PROGRAM_DIR) + "/Hostwarden";

class StartupProcess : public ::testing::Test {
 protected:
  // Each run gets its own runtime folder (so its own single-instance lock) and trace file, and the
  // test's own settings file and service.
  std::map<std::string, std::string> Environment(const std::string& trace, const std::string& actions = {}) const {
    return {{"QT_QPA_PLATFORM", "offscreen"},
            {"XDG_RUNTIME_DIR", runtime_.path()},
            {"HOSTWARDEN_TEST_TRACE", trace},
            {"HOSTWARDEN_TEST_SETTINGS_DB", scratch_.File("settings.db")},
            {"HOSTWARDEN_TEST_SERVICE_HOST", service_.prefix()},
            {"HOSTWARDEN_TEST_ACTIONS", actions},
            {"LC_ALL", "en_US.UTF-8"}};
  }

  static bool ReachesEventLoop(const std::string& trace) {
    return hwtest::WaitUntil([&] { return ReadFileText(trace).find("event loop") != std::string::npos; }, 60s);
  }

  TempDir runtime_;
  TempDir scratch_;
  hwtest::FakeService service_;
};

TEST_F(StartupProcess, SecondCopyEndsAtOnceAndShowsNothing) {
  ChildProcess first(kProgram, scratch_.path(), Environment(scratch_.File("first.trace")));
  ASSERT_TRUE(ReachesEventLoop(scratch_.File("first.trace")));

  ChildProcess second(kProgram, scratch_.path(), Environment(scratch_.File("second.trace")));
  EXPECT_EQ(second.WaitForExit(30s), 0);
  EXPECT_FALSE(std::filesystem::exists(scratch_.File("second.trace")));
  EXPECT_FALSE(first.WaitForExit(0ms).has_value()) << "the running copy must stay untouched";
}

TEST_F(StartupProcess, FindsLangIniBesideTheProgramWhenStartedElsewhere) {
  const std::string trace = scratch_.File("trace");
  ChildProcess program(kProgram, "/", Environment(trace));
  ASSERT_TRUE(ReachesEventLoop(trace));
  EXPECT_EQ(ReadFileText(trace).find("File missing."), std::string::npos);
}

TEST_F(StartupProcess, MissingLangIniSaysSoAndEndsWithoutEventLoop) {
  TempDir programFolder;
  std::filesystem::copy_file(kProgram, programFolder.File("Hostwarden"));
  std::filesystem::permissions(programFolder.File("Hostwarden"), std::filesystem::perms::owner_all);
  const std::string trace = scratch_.File("trace");

  ChildProcess program(programFolder.File("Hostwarden"), scratch_.path(), Environment(trace));
  ASSERT_TRUE(program.WaitForExit(60s).has_value());
  const std::string shown = ReadFileText(trace);
  EXPECT_NE(shown.find("box information [Information] File missing.\n"), std::string::npos) << shown;
  EXPECT_EQ(shown.find("event loop"), std::string::npos) << shown;
}

TEST_F(StartupProcess, TalksOnlyToTheTestsOwnServiceAndSettings) {
  service_.Enqueue(hwtest::Reply::Ok("2013\n6\n15\n10\n0\n0\n"));
  const std::string trace = scratch_.File("trace");
  ChildProcess program(kProgram, scratch_.path(), Environment(trace));
  ASSERT_TRUE(ReachesEventLoop(trace));
  ASSERT_TRUE(service_.WaitForRequests(1));
  EXPECT_TRUE(service_.Requests()[0].starts_with("GET /now.php HTTP/1.1\r\n"));
  EXPECT_TRUE(std::filesystem::exists(scratch_.File("settings.db"))) << "the start-up creates the key there";
}

// "Exit" ends the program also while the main window is shown (the window's close-to-hide must not
// veto the end), and from the tray menu that the user reaches while the window is disabled.
TEST_F(StartupProcess, ExitFromTheTrayEndsTheProgramInEveryState) {
  const std::pair<const char*, const char*> cases[] = {
      {"main window shown", "Show1,Exit1"},
      {"registration running (main window disabled)", "Show1,Button2,Exit1"},
  };
  for (const auto& [state, actions] : cases) {
    service_.Enqueue(hwtest::Reply::Ok("2013\n6\n15\n10\n0\n0\n"));
    const std::string trace = scratch_.File(std::string(state) + ".trace");
    ChildProcess program(kProgram, scratch_.path(), Environment(trace, actions));
    ASSERT_TRUE(ReachesEventLoop(trace)) << state;
    EXPECT_EQ(program.WaitForExit(30s), 0) << state;
    EXPECT_EQ(ReadFileText(trace).find("no control named"), std::string::npos) << state;
  }
}

}  // namespace
