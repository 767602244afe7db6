#include "platform/ClockJumps.h"

#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace hw {

ClockJumps::ClockJumps() {
  fd_ = ::timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
  Arm();
}

ClockJumps::~ClockJumps() {
  if (fd_ >= 0) ::close(fd_);
}

// A timer that never expires, cancelled by the kernel whenever the clock is set (resume included).
void ClockJumps::Arm() {
  if (fd_ < 0) return;
  itimerspec never{};
  never.it_value.tv_sec = 32503680000;  // the year 3000: a timer that is only ever cancelled
  if (::timerfd_settime(fd_, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &never, nullptr) != 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

bool ClockJumps::TakeJump() {
  if (fd_ < 0) return false;
  std::uint64_t expirations = 0;
  if (::read(fd_, &expirations, sizeof expirations) >= 0 || errno != ECANCELED) return false;
  Arm();
  return true;
}

}  // namespace hw
