// The real program, started as a user would start it: one copy per logon, from any folder, and
// never without its language file.
#include <gtest/gtest.h>

#include <filesystem>

#include "fixtures/ChildProcess.h"
#include "fixtures/TempDir.h"

namespace {

using namespace std::chrono_literals;
using hwtest::ChildProcess;
using hwtest::ReadFileText;
using hwtest::TempDir;

const std::string kProgram = std::string(HW_PROGRAM_DIR) + "/Hostwarden";

class StartupProcess : public ::testing::Test {
 protected:
  // Each run gets its own runtime folder (so its own single-instance lock) and trace file.
  std::map<std::string, std::string> Environment(const std::string& trace) const {
    return {{"QT_QPA_PLATFORM", "offscreen"},
            {"XDG_RUNTIME_DIR", runtime_.path()},
            {"HOSTWARDEN_TEST_TRACE", trace},
            {"LC_ALL", "en_US.UTF-8"}};
  }

  static bool ReachesEventLoop(const std::string& trace) {
    return hwtest::WaitUntil([&] { return ReadFileText(trace).find("event loop") != std::string::npos; }, 60s);
  }

  TempDir runtime_;
  TempDir scratch_;
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

}  // namespace
