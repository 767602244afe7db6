#pragma once
#include <signal.h>

namespace hw {

// While one lives, a write of this thread's to a connection that the peer has closed fails with
// EPIPE instead of ending the program with SIGPIPE. For the writes of a library that cannot be
// told MSG_NOSIGNAL; a SIGPIPE that was already waiting for the thread is left as it was.
class QuietBrokenPipe {
 public:
  QuietBrokenPipe();
  ~QuietBrokenPipe();
  QuietBrokenPipe(const QuietBrokenPipe&) = delete;
  QuietBrokenPipe& operator=(const QuietBrokenPipe&) = delete;

 private:
  sigset_t previousMask_;
  bool wasPending_;
};

}  // namespace hw
