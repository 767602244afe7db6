#pragma once
#include <chrono>
#include <vector>

namespace hw {

// Thrown from the wait of a request when the daemon is told to stop: it unwinds every handler up to
// the daemon's loop (it is not a std::exception, so no handler of a failure takes it for one).
struct StopRequested {};

// The daemon's own waiting: the termination and reload signals arrive on a descriptor, and between
// ticks the daemon sleeps in one poll until the next tick is due, with no wake-up in between.
class DaemonEvents {
 public:
  enum class Event { Due, Stop, Reread, Input };
  using Clock = std::chrono::steady_clock;

  // Blocks SIGTERM, SIGINT and SIGHUP for the process and takes them from a signal descriptor.
  DaemonEvents();
  ~DaemonEvents();
  DaemonEvents(const DaemonEvents&) = delete;
  DaemonEvents& operator=(const DaemonEvents&) = delete;

  // Sleeps until `due`, a signal or one of `inputs` being readable (Input); a reload asked for
  // while a request waited comes first.
  Event WaitUntil(Clock::time_point due, const std::vector<int>& inputs = {});
  // The pump of a waiting request: a stop ends the request at once (StopRequested); a reload is
  // kept for the loop.
  void WhileWaiting();

 private:
  // The next signal already there, without waiting; Due when there is none.
  Event TakeSignal();

  int fd_ = -1;
  bool rereadPending_ = false;
};

}  // namespace hw
