#include "core/ChangeSchedule.h"

#include <algorithm>

namespace hw {

void ChangeSchedule::Reported(Clock::time_point now) {
  if (!firstReport_) firstReport_ = now;
  settleDue_ = std::min(now + timing_.settle, *firstReport_ + timing_.settleAtMost);
}

void ChangeSchedule::Jumped(Clock::time_point now) {
  jumped_ = true;
  Reported(now);
}

std::optional<ChangeSchedule::Clock::time_point> ChangeSchedule::NextDue() const {
  if (settleDue_ && checkDue_) return std::min(*settleDue_, *checkDue_);
  return settleDue_ ? settleDue_ : checkDue_;
}

void ChangeSchedule::Settled(Clock::time_point now, bool networkDiffers) {
  settleDue_.reset();
  firstReport_.reset();
  const bool change = networkDiffers || jumped_;
  jumped_ = false;
  if (!change || checkDue_) return;
  checkDue_ = lastCheck_ ? std::max(now, *lastCheck_ + timing_.gap) : now;
}

bool ChangeSchedule::TakeCheck(Clock::time_point now) {
  if (!checkDue_ || now < *checkDue_) return false;
  checkDue_.reset();
  lastCheck_ = now;
  return true;
}

}  // namespace hw
