#include "platform/QuietBrokenPipe.h"

#include <pthread.h>

#include <ctime>

namespace hw {
namespace {

sigset_t BrokenPipeOnly() {
  sigset_t set;
  ::sigemptyset(&set);
  ::sigaddset(&set, SIGPIPE);
  return set;
}

bool BrokenPipePending() {
  sigset_t pending;
  ::sigpending(&pending);
  return ::sigismember(&pending, SIGPIPE) == 1;
}

}  // namespace

QuietBrokenPipe::QuietBrokenPipe() {
  const sigset_t pipe = BrokenPipeOnly();
  ::pthread_sigmask(SIG_BLOCK, &pipe, &previousMask_);
  wasPending_ = BrokenPipePending();
}

QuietBrokenPipe::~QuietBrokenPipe() {
  // The signal a failed write raised meanwhile waits, blocked; it is taken here so that it is never
  // delivered once the mask is restored.
  if (!wasPending_ && BrokenPipePending()) {
    const sigset_t pipe = BrokenPipeOnly();
    const timespec now{0, 0};
    ::sigtimedwait(&pipe, nullptr, &now);
  }
  ::pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
}

}  // namespace hw
