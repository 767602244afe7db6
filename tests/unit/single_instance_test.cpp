// One copy per logon, whatever state the runtime folder is in.
#include "platform/SingleInstance.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "fixtures/TempDir.h"

namespace {

// A guard socket name no other test or program uses.
std::string UniqueSocketName(const char* what) {
  return std::string("hostwarden-test-") + what + "-" + std::to_string(::getpid());
}

TEST(SingleInstance, OneCopyHoldsTheGuardWhateverTheLockFile) {
  hwtest::TempDir folder;
  std::filesystem::create_directory(folder.File("Hostwarden.lock"));
  struct Case {
    const char* what;
    std::string lockPath;
    std::string socket;
  };
  const Case cases[] = {
      {"lock file", folder.File("ok.lock"), UniqueSocketName("file")},
      {"runtime folder missing", folder.File("missing/Hostwarden.lock"), UniqueSocketName("missing")},
      {"a folder in the lock file's place", folder.File("Hostwarden.lock"), UniqueSocketName("folder")},
  };
  for (const Case& c : cases) {
    const std::string& socket = c.socket;
    hw::SingleInstanceLock first, second, third;
    EXPECT_TRUE(first.Acquire(c.lockPath, socket)) << c.what;
    EXPECT_FALSE(second.Acquire(c.lockPath, socket)) << c.what << ": a second copy must see the first";
    first.Release();
    EXPECT_TRUE(third.Acquire(c.lockPath, socket)) << c.what << ": free again once the first has ended";
  }
}

}  // namespace
