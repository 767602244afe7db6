#include "core/AddressWatch.h"

#include "platform/TestSwitches.h"

namespace hw {

AddressWatch::AddressWatch(ChangeSchedule::Timing timing) : schedule_(timing), published_(NetworkState()) {}

std::vector<int> AddressWatch::Descriptors() const {
  std::vector<int> descriptors{changes_.Descriptor()};
  if (jumps_.Descriptor() >= 0) descriptors.push_back(jumps_.Descriptor());
  return descriptors;
}

void AddressWatch::TakeReports(Clock::time_point now) {
  // Each address report is traced for the tests, which wait for the one they caused.
  std::function<void(const std::string&)> trace;
  if (TestSwitch("HOSTWARDEN_TEST_TRACE"))
    trace = [](const std::string& report) { TestTraceLine("network report " + report); };
  const bool counts = changes_.TakeChanges(trace);
  if (counts) schedule_.Reported(now);
  if (jumps_.TakeJump()) schedule_.Jumped(now);
}

bool AddressWatch::Due(Clock::time_point now) {
  if (schedule_.SettlingDue(now)) {
    const std::optional<std::string> state = NetworkState();
    // A state that cannot be read may hide a change.
    const bool differs = !state || !published_ || *state != *published_;
    schedule_.Settled(now, differs);
    TestTraceLine(differs ? "network change settled: a check follows" : "network change settled: nothing to publish");
  }
  return schedule_.TakeCheck(now);
}

void AddressWatch::Published() {
  published_ = NetworkState();
  schedule_.Published();
}

}  // namespace hw
