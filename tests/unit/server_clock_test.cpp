#include "lifetime/ServerClock.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

#include "common/AppError.h"

namespace hw {
void PrintTo(const DateTime& when, std::ostream* out) {
  *out << when.Year() << '-' << when.Month() << '-' << when.Day() << ' ' << when.Hour() << ':' << when.Minute() << ':'
       << when.Second() << '.' << when.Millisecond();
}
}  // namespace hw

namespace {

enum class Failure { kNone, kListIndex, kConvert };

struct ClockCase {
  const char* name;
  std::string body;
  std::optional<hw::DateTime> reading;  // when the reply decodes
  Failure failure = Failure::kNone;
  std::string message;  // when it does not
};
// A case prints as its name: its bytes hold addresses that change from build to build.
void PrintTo(const ClockCase& c, std::ostream* out) { *out << c.name; }

hw::DateTime At(int year, int month, int day, int hour, int minute, int second) {
  return *hw::DateTime::FromParts(year, month, day, hour, minute, second, 0);
}

ClockCase Reads(const char* name, std::string body, hw::DateTime reading) {
  return {name, std::move(body), reading, Failure::kNone, ""};
}

ClockCase Fails(const char* name, std::string body, Failure failure, std::string message) {
  return {name, std::move(body), std::nullopt, failure, std::move(message)};
}

const hw::DateTime kJune15 = At(2013, 6, 15, 8, 5, 9);

class ClockReplyTest : public testing::TestWithParam<ClockCase> {};

TEST_P(ClockReplyTest, DecodesOrFailsWithTheExactMessage) {
  const ClockCase& c = GetParam();
  if (c.failure == Failure::kNone) {
    EXPECT_EQ(hw::DecodeClockReply(c.body), *c.reading);
    return;
  }
  try {
    const hw::DateTime unexpected = hw::DecodeClockReply(c.body);
    ADD_FAILURE() << "decoded " << testing::PrintToString(unexpected);
  } catch (const hw::ListIndexError& e) {
    EXPECT_EQ(c.failure, Failure::kListIndex);
    EXPECT_EQ(std::string(e.what()), c.message);
  } catch (const hw::ConvertError& e) {
    EXPECT_EQ(c.failure, Failure::kConvert);
    EXPECT_EQ(std::string(e.what()), c.message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ClockReplyTest,
    testing::Values(Reads("CrLf", "2013\r\n6\r\n15\r\n8\r\n5\r\n9\r\n", kJune15),
                    Reads("LoneLf", "2013\n6\n15\n8\n5\n9\n", kJune15),
                    Reads("LoneCr", "2013\r6\r15\r8\r5\r9\r", kJune15),
                    Reads("NoFinalLineEnd", "2013\r\n6\r\n15\r\n8\r\n5\r\n9", kJune15),
                    Reads("SeventhLineIgnored", "2013\n6\n15\n8\n5\n9\nnot a number\n\n", kJune15),
                    Reads("LeadingSpaceAccepted", "2013\n6\n15\n 7\n5\n9\n", At(2013, 6, 15, 7, 5, 9)),
                    Reads("HexPrefixes", "2013\n5\n$1F\n8\n5\n0x1F\n", At(2013, 5, 31, 8, 5, 31)),
                    Reads("OnlyLow16BitsCount", "2013\n65542\n15\n8\n5\n9\n", kJune15),
                    Fails("TrailingSpaceRefused", "2013\n6\n15\n7 \n5\n9\n", Failure::kConvert,
                          "'7 ' is not a valid integer value"),
                    Fails("LfCrIsTwoLineEnds", "2013\n\r6\n15\n8\n5\n9\n", Failure::kConvert,
                          "'' is not a valid integer value"),
                    Fails("EmptyBody", "", Failure::kListIndex, "List index out of bounds (3)"),
                    Fails("ThreeLines", "2013\n6\n15\n", Failure::kListIndex, "List index out of bounds (3)"),
                    Fails("FourLines", "2013\n6\n15\n8\n", Failure::kListIndex, "List index out of bounds (4)"),
                    Fails("FiveLines", "2013\n6\n15\n8\n5\n", Failure::kListIndex, "List index out of bounds (5)"),
                    Fails("NulEndsText", std::string("2013\n6\n15\n8\n5\0\n9\n", 17), Failure::kListIndex,
                          "List index out of bounds (5)"),
                    Fails("BadHourBeforeMissingLine", "2013\n6\n15\nnoon\n", Failure::kConvert,
                          "'noon' is not a valid integer value"),
                    Fails("NoLeapDay", "2013\n2\n29\n8\n5\n9\n", Failure::kConvert,
                          "''2013/2/29 8:5:9.0'' is not a valid date and time"),
                    Fails("Hour24", "2013\n6\n15\n24\n0\n0\n", Failure::kConvert,
                          "''2013/6/15 24:0:0.0'' is not a valid date and time"),
                    Fails("MinusOneShownAsQuestionMark", "2013\n-1\n15\n8\n5\n9\n", Failure::kConvert,
                          "''2013/?/15 8:5:9.0'' is not a valid date and time")),
    [](const testing::TestParamInfo<ClockCase>& info) { return std::string(info.param.name); });

TEST(SplitReplyLines, KeepsEmptyLinesButAddsNoneAtTheEnd) {
  EXPECT_EQ(hw::SplitReplyLines("a\r\n\r\nb\r\n"), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(hw::SplitReplyLines("\n"), (std::vector<std::string>{""}));
}

// The date error writes the fields with the user's separators for dates, times and fractions.
TEST(ClockReplyDateError, UsesTheUsersSeparators) {
  const std::pair<const char*, const char*> cases[] = {
      {"C", "''2013/2/29 8:5:9.0'' is not a valid date and time"},
      {"en_US.UTF-8", "''2013/2/29 8:5:9.0'' is not a valid date and time"},
      {"de_DE.UTF-8", "''2013.2.29 8:5:9,0'' is not a valid date and time"},
      {"zh_TW.UTF-8", "''2013/2/29 8:5:9.0'' is not a valid date and time"},  // no one-character separators
  };
  for (const auto& [locale, message] : cases) {
    setenv("LC_ALL", locale, 1);
    try {
      hw::DecodeClockReply("2013\n2\n29\n8\n5\n9\n");
      ADD_FAILURE() << locale << ": decoded";
    } catch (const hw::ConvertError& e) {
      EXPECT_EQ(e.Message(), message) << locale;
    }
  }
  unsetenv("LC_ALL");
}

}  // namespace
