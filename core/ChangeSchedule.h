#pragma once
#include <chrono>
#include <optional>

namespace hw {

struct ChangeTiming {
  std::chrono::milliseconds settle{1500};        // quiet after the last report
  std::chrono::milliseconds settleAtMost{4000};  // a steady stream of reports settles after this
  std::chrono::milliseconds gap{60000};          // between two extra checks
};

// When the extra check after a change of the machine's network runs. Reports are let settle first
// (an address that comes and goes within the settling is no change, and a burst is one change);
// then, when the network differs from what was last published, one check runs, at most one such
// check per gap. The ten-minute ticks are not touched.
class ChangeSchedule {
 public:
  using Clock = std::chrono::steady_clock;
  using Timing = ChangeTiming;

  explicit ChangeSchedule(Timing timing = {}) : timing_(timing) {}

  // A report that counts: the settling starts, or starts again.
  void Reported(Clock::time_point now);
  // The clock jumped (a resume from suspend): a change whatever the network looks like after.
  void Jumped(Clock::time_point now);
  // The earliest moment that something is due: the end of the settling or the extra check.
  std::optional<Clock::time_point> NextDue() const;
  bool SettlingDue(Clock::time_point now) const { return settleDue_ && now >= *settleDue_; }
  // After the settling, with whether the network now differs from what was last published.
  void Settled(Clock::time_point now, bool networkDiffers);
  // True once, when the extra check is to run now.
  bool TakeCheck(Clock::time_point now);
  // A check of any kind has just published the network as it stands: a waiting extra check has
  // nothing left to do.
  void Published() { checkDue_.reset(); }

 private:
  Timing timing_;
  std::optional<Clock::time_point> firstReport_;
  std::optional<Clock::time_point> settleDue_;
  std::optional<Clock::time_point> checkDue_;
  std::optional<Clock::time_point> lastCheck_;
  bool jumped_ = false;
};

}  // namespace hw
