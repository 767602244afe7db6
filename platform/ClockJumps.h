#pragma once

namespace hw {

// Notice of the wall clock being set or jumping, which is also how the kernel reports a resume
// from suspend: after a night asleep, the machine may well be somewhere else. A descriptor to wait
// on, readable once per jump, with no wake-up in between.
class ClockJumps {
 public:
  ClockJumps();
  ~ClockJumps();
  ClockJumps(const ClockJumps&) = delete;
  ClockJumps& operator=(const ClockJumps&) = delete;

  // -1 where the kernel offers no such notice; then jumps go unnoticed.
  int Descriptor() const { return fd_; }
  // True when the clock jumped since the last call; arms the notice again.
  bool TakeJump();

 private:
  void Arm();
  int fd_ = -1;
};

}  // namespace hw
