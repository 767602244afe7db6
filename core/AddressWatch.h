#pragma once
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/ChangeSchedule.h"
#include "platform/ClockJumps.h"
#include "platform/NetworkChanges.h"

namespace hw {

// The watch on the machine's network for an extra check soon after its address changes. The
// front end waits on the descriptors and until NextDue(), and calls back; the watch says when the
// extra check is to run.
class AddressWatch {
 public:
  using Clock = ChangeSchedule::Clock;

  // Throws AppError when the kernel's reports cannot be had. The network as it stands now counts as
  // published (the start-up's check publishes it).
  explicit AddressWatch(ChangeSchedule::Timing timing = {});

  std::vector<int> Descriptors() const;
  // A descriptor was readable: takes what the kernel reported.
  void TakeReports(Clock::time_point now);
  std::optional<Clock::time_point> NextDue() const { return schedule_.NextDue(); }
  // At or after NextDue(): true when the extra check is to run now.
  bool Due(Clock::time_point now);
  // A check (a tick's or the extra one) has gone out: the network as it stands is published.
  void Published();

 private:
  NetworkChanges changes_;
  ClockJumps jumps_;
  ChangeSchedule schedule_;
  std::optional<std::string> published_;
};

}  // namespace hw
