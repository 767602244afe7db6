// When the extra check after a network change runs: settling, the gap between extra checks, clock
// jumps. Times are given, not waited for.
#include <gtest/gtest.h>

#include "core/ChangeSchedule.h"

namespace {

using namespace std::chrono_literals;
using hw::ChangeSchedule;
using Clock = ChangeSchedule::Clock;

// One step of a scenario: at `at` after the start, a report, a clock jump, or the settling due then
// finding the network as it was (elsewhere it is found changed).
struct Step {
  enum Kind { Report, Jump, SettleSame } kind;
  std::chrono::milliseconds at;
};

struct ScheduleCase {
  const char* what;
  std::vector<Step> steps;
  std::vector<std::chrono::milliseconds> checks;  // when the extra checks ran
  std::optional<std::chrono::milliseconds> dueAfter;  // NextDue() after the last step
};

TEST(ChangeSchedule, SettlesThenChecksAtMostOncePerGap) {
  const std::vector<ScheduleCase> cases = {
      {"one report settles after 1.5 s, then the check", {{Step::Report, 0ms}}, {1500ms}, std::nullopt},
      {"a burst settles once, after its last report", {{Step::Report, 0ms}, {Step::Report, 500ms}, {Step::Report, 1000ms}},
       {2500ms}, std::nullopt},
      {"a stream of reports settles at most 4 s after the first",
       {{Step::Report, 0ms}, {Step::Report, 1000ms}, {Step::Report, 2000ms}, {Step::Report, 3000ms}, {Step::Report, 3900ms}},
       {4000ms}, std::nullopt},
      {"a network as it was: no check", {{Step::Report, 0ms}, {Step::SettleSame, 1500ms}}, {}, std::nullopt},
      {"a second change within the minute waits for it",
       {{Step::Report, 0ms}, {Step::Report, 10000ms}}, {1500ms}, 61500ms},
      {"a clock jump checks even when the network looks the same", {{Step::Jump, 0ms}, {Step::SettleSame, 1500ms}},
       {1500ms}, std::nullopt},
  };
  for (const ScheduleCase& c : cases) {
    SCOPED_TRACE(c.what);
    ChangeSchedule schedule;
    const Clock::time_point start{};
    std::vector<std::chrono::milliseconds> checks;
    // Runs what is due up to `until`, the network differing at every settling unless a step says so.
    const auto runDue = [&](std::chrono::milliseconds until, bool differs) {
      while (const auto due = schedule.NextDue()) {
        if (*due > start + until) break;
        if (schedule.SettlingDue(*due)) schedule.Settled(*due, differs);
        if (schedule.TakeCheck(*due)) checks.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(*due - start));
      }
    };
    for (const Step& step : c.steps) {
      runDue(step.at - 1ms, true);
      if (step.kind == Step::Report) schedule.Reported(start + step.at);
      if (step.kind == Step::Jump) schedule.Jumped(start + step.at);
      if (step.kind == Step::SettleSame) runDue(step.at, false);
    }
    runDue(20000ms, true);
    EXPECT_EQ(checks, c.checks);
    const auto due = schedule.NextDue();
    EXPECT_EQ(due ? std::optional(std::chrono::duration_cast<std::chrono::milliseconds>(*due - start)) : std::nullopt,
              c.dueAfter);
  }
}

TEST(ChangeSchedule, ACheckOfTheTickLeavesTheWaitingExtraCheckNothingToDo) {
  ChangeSchedule schedule;
  const Clock::time_point start{};
  schedule.Reported(start);
  schedule.Settled(start + 1500ms, true);
  ASSERT_TRUE(schedule.TakeCheck(start + 1500ms));
  schedule.Reported(start + 10s);
  schedule.Settled(start + 11500ms, true);
  EXPECT_EQ(schedule.NextDue(), start + 61500ms);
  schedule.Published();
  EXPECT_EQ(schedule.NextDue(), std::nullopt);
  EXPECT_FALSE(schedule.TakeCheck(start + 70s));
}

}  // namespace
