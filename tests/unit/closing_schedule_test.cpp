#include "lifetime/ClosingSchedule.h"

#include <gtest/gtest.h>

#include <string>

namespace {

hw::DateTime At(int year, int month, int day, int hour, int minute, int second) {
  return *hw::DateTime::FromParts(year, month, day, hour, minute, second, 0);
}

struct CountdownCase {
  const char* name;
  hw::DateTime now;
  int days;
};
// A case prints as its name: its bytes hold addresses that change from build to build.
void PrintTo(const CountdownCase& c, std::ostream* out) { *out << c.name; }

class DaysToClosingTest : public testing::TestWithParam<CountdownCase> {};

TEST_P(DaysToClosingTest, CountsWholeDaysPlusOne) { EXPECT_EQ(hw::DaysToClosing(GetParam().now), GetParam().days); }

INSTANTIATE_TEST_SUITE_P(
    Readings, DaysToClosingTest,
    testing::Values(CountdownCase{"FifteenDaysBefore", At(2013, 6, 15, 10, 0, 0), 15},
                    CountdownCase{"HalfADayBefore", At(2013, 6, 29, 12, 0, 0), 1},
                    CountdownCase{"OneMillisecondBefore",
                                  hw::DateTime::FromMillisecondsSinceZero(hw::ClosingDate.MillisecondsSinceZero() - 1),
                                  1},
                    CountdownCase{"ClosingInstant", At(2013, 6, 30, 0, 0, 0), 1},
                    CountdownCase{"NoClockReadingYet", hw::DateTime(), 41456},
                    CountdownCase{"CountsUpAfterClosing", At(2013, 7, 3, 12, 0, 0), 4}),
    [](const testing::TestParamInfo<CountdownCase>& info) { return std::string(info.param.name); });

TEST(IsServiceClosed, OnlyAfterTheClosingInstant) {
  EXPECT_FALSE(hw::IsServiceClosed(At(2013, 6, 29, 23, 59, 59)));
  EXPECT_FALSE(hw::IsServiceClosed(At(2013, 6, 30, 0, 0, 0)));
  EXPECT_TRUE(hw::IsServiceClosed(At(2013, 6, 30, 0, 0, 1)));
}

struct TextCase {
  const char* name;
  std::string (*text)(unsigned langId);
  std::string english;
  std::string chinese;
};
// A case prints as its name: its bytes hold addresses that change from build to build.
void PrintTo(const TextCase& c, std::ostream* out) { *out << c.name; }

class ClosingTextTest : public testing::TestWithParam<TextCase> {};

// Only 1028 selects the Traditional Chinese text; every other id, other Chinese ones too, gets English.
TEST_P(ClosingTextTest, IsByteForByteInEachLanguage) {
  const TextCase& c = GetParam();
  EXPECT_EQ(c.text(1033), c.english);
  EXPECT_EQ(c.text(2052), c.english);
  EXPECT_EQ(c.text(1028), c.chinese);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ClosingTextTest,
    testing::Values(TextCase{"CountdownNotice", [](unsigned id) { return hw::CountdownNoticeText(id, 15); },
                             "Our DDNS service will be \r\n15 days close", "我們的 DDNS 服務將於 \r\n15 天後關閉"},
                    TextCase{"ClosedNotice", hw::ClosedNoticeText, "Our DDNS service\n\rhas been closed.",
                             "我們的 DDNS 服務\n\r已經關閉"},
                    TextCase{"CountdownLogLine", [](unsigned id) { return hw::CountdownLogLine(id, 41456); },
                             "[Notification] Our DDNS service will be 41456 days close",
                             "[注意] 我們的 DDNS 服務將於 41456 天後關閉"},
                    TextCase{"ClosedLogLine", hw::ClosedLogLine, " Our DDNS service has been closed.",
                             " 我們的 DDNS 服務已經關閉"}),
    [](const testing::TestParamInfo<TextCase>& info) { return std::string(info.param.name); });

}  // namespace
