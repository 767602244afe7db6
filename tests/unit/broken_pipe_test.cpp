// Writes to a connection whose peer has gone, made by code that cannot pass MSG_NOSIGNAL: the
// program lives on and the write fails with EPIPE. (SIGPIPE's default action would end the test.)
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "platform/QuietBrokenPipe.h"

namespace {

// One end of a connection whose other end is closed.
class Orphan {
 public:
  Orphan() {
    int ends[2];
    ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends);
    ::close(ends[1]);
    fd_ = ends[0];
  }
  ~Orphan() { ::close(fd_); }
  Orphan(const Orphan&) = delete;
  Orphan& operator=(const Orphan&) = delete;

  // errno of a write to it, 0 when the write went through.
  int WriteError() const {
    errno = 0;
    return ::write(fd_, "x", 1) < 0 ? errno : 0;
  }

 private:
  int fd_;
};

sigset_t BrokenPipeOnly() {
  sigset_t set;
  ::sigemptyset(&set);
  ::sigaddset(&set, SIGPIPE);
  return set;
}

bool Member(const sigset_t& set) { return ::sigismember(&set, SIGPIPE) == 1; }

bool Pending() {
  sigset_t pending;
  ::sigpending(&pending);
  return Member(pending);
}

bool Blocked() {
  sigset_t mask;
  ::pthread_sigmask(SIG_SETMASK, nullptr, &mask);
  return Member(mask);
}

TEST(QuietBrokenPipe, AWriteToAClosedPeerFailsWithoutTheSignal) {
  const Orphan orphan;
  ASSERT_FALSE(Blocked());
  {
    const hw::QuietBrokenPipe quiet;
    EXPECT_EQ(orphan.WriteError(), EPIPE);
  }
  EXPECT_FALSE(Pending()) << "its signal is not left behind for the restored mask to deliver";
  EXPECT_FALSE(Blocked());
}

// A SIGPIPE that already waited for the thread is left for it: the thread had blocked it for its
// own reasons.
TEST(QuietBrokenPipe, ASignalThatWasWaitingBeforeStillWaits) {
  const Orphan orphan;
  const sigset_t pipe = BrokenPipeOnly();
  sigset_t previous;
  ::pthread_sigmask(SIG_BLOCK, &pipe, &previous);
  ::pthread_kill(::pthread_self(), SIGPIPE);
  {
    const hw::QuietBrokenPipe quiet;
    EXPECT_EQ(orphan.WriteError(), EPIPE);
  }
  EXPECT_TRUE(Pending());
  EXPECT_TRUE(Blocked());
  const timespec now{0, 0};
  ::sigtimedwait(&pipe, nullptr, &now);
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

}  // namespace
