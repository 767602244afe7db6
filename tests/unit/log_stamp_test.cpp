// The stamp in front of activity-log lines: the service's weekday and time in the user's locale.
#include <gtest/gtest.h>

#include <cstdlib>

#include "lifetime/DateTime.h"
#include "lifetime/LogStamp.h"

namespace {

struct StampCase {
  const char* locale;
  hw::DateTime when;
  std::string expected;
};

TEST(LogStamp, WeekdayInTheUsersLocaleAndTwentyFourHourClock) {
  const hw::DateTime monday = *hw::DateTime::FromParts(2013, 6, 17, 9, 5, 59, 0);
  const StampCase cases[] = {
      {"en_US.UTF-8", hw::DateTime(), "[Saturday 00:00]"},
      {"en_US.UTF-8", monday, "[Monday 09:05]"},
      {"de_DE.UTF-8", monday, "[Montag 09:05]"},
      {"zh_TW.UTF-8", monday, "[週一 09:05]"},
      {"en_US.UTF-8", *hw::DateTime::FromParts(2013, 6, 16, 23, 59, 0, 0), "[Sunday 23:59]"},
  };
  for (const StampCase& c : cases) {
    setenv("LC_ALL", c.locale, 1);
    EXPECT_EQ(hw::FormatLogStamp(c.when), c.expected) << c.locale;
  }
  unsetenv("LC_ALL");
}

}  // namespace
