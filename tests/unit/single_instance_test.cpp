// One copy per logon, whatever state the runtime folder is in.
#include "platform/SingleInstance.h"
#include "platform/ShowRequests.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
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
    // Asked again and again (the updater asks every 50 ms while it waits): each question waits in the
    // holder's queue, which it never empties, and the answer stays the same once the queue is full.
    for (int asked = 0; asked < 20; ++asked)
      EXPECT_FALSE(second.Acquire(c.lockPath, socket)) << c.what << ": a second copy must see the first, " << asked;
    first.Release();
    EXPECT_TRUE(third.Acquire(c.lockPath, socket)) << c.what << ": free again once the first has ended";
  }
}

// Without a runtime folder, another local user can get at the shared temporary folder and at every
// abstract socket name. Neither a lock folder nor a socket that such a user holds stops this user's
// copy; a copy of this user's own still does.
TEST(SingleInstance, WhatAnotherUserHoldsDoesNotCount) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs a second user: run as root";
  constexpr uid_t kUser = 65534;
  hwtest::TempDir temporary;
  ASSERT_EQ(::chmod(temporary.path().c_str(), 01777), 0);
  const std::string name = UniqueSocketName("squatted");
  const std::string userFolder = temporary.File(name + "-" + std::to_string(kUser));
  // The other user (root here) was first: the user's folder with a held lock in it, and the socket.
  ASSERT_EQ(::mkdir(userFolder.c_str(), 0777), 0);
  ASSERT_EQ(::chmod(userFolder.c_str(), 0777), 0);
  hw::SingleInstanceLock squatter;
  ASSERT_TRUE(squatter.Acquire(userFolder + "/" + name + ".lock", name + "-" + std::to_string(kUser)));
  hw::SingleInstanceLock squattedSocket;
  ASSERT_TRUE(squattedSocket.Acquire({}, name + "-" + std::to_string(kUser)));

  // The user's own copies, in a child that has become that user: the first starts, the second not.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::setgid(kUser) != 0 || ::setuid(kUser) != 0) ::_exit(10);
    ::unsetenv("XDG_RUNTIME_DIR");
    ::setenv("TMPDIR", temporary.path().c_str(), 1);
    hw::SingleInstanceLock first, second;
    if (!first.Acquire(hw::DefaultLockPath(name), hw::DefaultGuardSocketName(name))) ::_exit(1);
    if (second.Acquire(hw::DefaultLockPath(name), hw::DefaultGuardSocketName(name))) ::_exit(2);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the other user's hold stopped the first copy; 2: the second ran too";
}

// The lock folder in the temporary folder is the user's own and nobody else's.
TEST(SingleInstance, FallbackLockLivesInAPrivateFolder) {
  hwtest::TempDir temporary;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const std::string previousRuntime = runtime ? runtime : "";
  ::unsetenv("XDG_RUNTIME_DIR");
  ::setenv("TMPDIR", temporary.path().c_str(), 1);
  const std::string name = UniqueSocketName("private");
  const std::string path = hw::DefaultLockPath(name);
  const std::string folder = temporary.File(name + "-" + std::to_string(::getuid()));
  EXPECT_EQ(path, folder + "/" + name + ".lock");
  struct stat info {};
  ASSERT_EQ(::lstat(folder.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);

  ASSERT_EQ(::chmod(folder.c_str(), 0755), 0);
  EXPECT_EQ(hw::DefaultLockPath(name), "") << "a folder others may enter is not used";
  ::unsetenv("TMPDIR");
  if (!previousRuntime.empty()) ::setenv("XDG_RUNTIME_DIR", previousRuntime.c_str(), 1);
}

// A second start asks the running copy to show its window through a socket beside the lock.
TEST(ShowRequests, ASecondStartReachesTheRunningCopy) {
  hwtest::TempDir folder;
  const std::string path = hw::ShowRequestPath(folder.File("Hostwarden.lock"));
  EXPECT_EQ(path, folder.File("Hostwarden.show"));
  EXPECT_EQ(hw::ShowRequestPath(""), "") << "no lock file, no door";
  EXPECT_FALSE(hw::SendShowRequest(path)) << "nobody listens yet";

  {
    // What a copy that crashed left behind is replaced.
    hw::ShowRequestListener crashed;
    ASSERT_TRUE(crashed.Listen(path));
  }
  ASSERT_FALSE(std::filesystem::exists(path)) << "removed when its copy ends";
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  hw::ShowRequestListener listener;
  ASSERT_TRUE(listener.Listen(path));
  EXPECT_FALSE(listener.TakeRequests()) << "nothing asked yet, and nothing waits";
  EXPECT_TRUE(hw::SendShowRequest(path));
  EXPECT_TRUE(hw::SendShowRequest(path));
  EXPECT_TRUE(listener.TakeRequests()) << "two requests, one showing";
  EXPECT_FALSE(listener.TakeRequests());
}

}  // namespace
