#include "lifetime/DateTime.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct PartsCase {
  const char* name;
  int year, month, day, hour, minute, second, ms;
  int dayOfWeek;  // 0 = Sunday
  double days;    // since the zero, the time of day as the fraction
};
// A case prints as its name: its bytes hold addresses that change from build to build.
void PrintTo(const PartsCase& c, std::ostream* out) { *out << c.name; }

class DateTimePartsTest : public testing::TestWithParam<PartsCase> {};

TEST_P(DateTimePartsTest, RoundTripsWithWeekdayAndDayCount) {
  const PartsCase& c = GetParam();
  const auto when = hw::DateTime::FromParts(c.year, c.month, c.day, c.hour, c.minute, c.second, c.ms);
  ASSERT_TRUE(when.has_value());
  EXPECT_EQ(when->Year(), c.year);
  EXPECT_EQ(when->Month(), c.month);
  EXPECT_EQ(when->Day(), c.day);
  EXPECT_EQ(when->Hour(), c.hour);
  EXPECT_EQ(when->Minute(), c.minute);
  EXPECT_EQ(when->Second(), c.second);
  EXPECT_EQ(when->Millisecond(), c.ms);
  EXPECT_EQ(when->DayOfWeek(), c.dayOfWeek);
  EXPECT_DOUBLE_EQ(when->Days(), c.days);
}

INSTANTIATE_TEST_SUITE_P(
    Dates, DateTimePartsTest,
    testing::Values(PartsCase{"ZeroIsSaturday", 1899, 12, 30, 0, 0, 0, 0, 6, 0.0},
                    PartsCase{"ClosingWeekMonday", 2013, 6, 17, 9, 5, 59, 0, 1, 41442.0 + 32759.0 / 86400},
                    PartsCase{"EveningBeforeZero", 1899, 12, 29, 18, 0, 0, 0, 5, -0.25},
                    PartsCase{"FirstDay", 1, 1, 1, 0, 0, 0, 0, 1, -693593.0},
                    PartsCase{"LastMillisecond", 9999, 12, 31, 23, 59, 59, 999, 5, 2958465.0 + 86399999.0 / 86400000},
                    PartsCase{"LeapDay2000", 2000, 2, 29, 12, 0, 0, 0, 2, 36585.5}),
    [](const testing::TestParamInfo<PartsCase>& info) { return std::string(info.param.name); });

TEST(DateTimeFromParts, RefusesFieldsOutOfRange) {
  EXPECT_FALSE(hw::DateTime::FromParts(1900, 2, 29, 0, 0, 0, 0));  // century, not a leap year
  EXPECT_FALSE(hw::DateTime::FromParts(2013, 4, 31, 0, 0, 0, 0));
  EXPECT_FALSE(hw::DateTime::FromParts(0, 1, 1, 0, 0, 0, 0));
  EXPECT_FALSE(hw::DateTime::FromParts(10000, 1, 1, 0, 0, 0, 0));
  EXPECT_FALSE(hw::DateTime::FromParts(2013, 13, 1, 0, 0, 0, 0));
  EXPECT_FALSE(hw::DateTime::FromParts(2013, 6, 0, 0, 0, 0, 0));
  EXPECT_FALSE(hw::DateTime::FromParts(2013, 6, 1, 0, -1, 0, 0));
  EXPECT_FALSE(hw::DateTime::FromParts(2013, 6, 1, 0, 0, 60, 0));
  EXPECT_FALSE(hw::DateTime::FromParts(2013, 6, 1, 0, 0, 0, 1000));
}

}  // namespace
