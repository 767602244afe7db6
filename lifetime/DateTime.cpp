#include "lifetime/DateTime.h"

namespace hw {

namespace {

struct CivilDate {
  int year;
  int month;
  int day;
};

// Floor division: a time before the zero still belongs to the day it falls in, with a
// non-negative time of day.
std::int64_t FloorDiv(std::int64_t value, std::int64_t divisor) {
  const std::int64_t quotient = value / divisor;
  return (value % divisor < 0) ? quotient - 1 : quotient;
}

std::int64_t WholeDays(std::int64_t ms) { return FloorDiv(ms, DateTime::kMillisecondsPerDay); }

std::int64_t MsOfDay(std::int64_t ms) { return ms - WholeDays(ms) * DateTime::kMillisecondsPerDay; }

// Inverse of the days-from-civil count: days since 1970-01-01 to a proleptic Gregorian date.
CivilDate CivilFromDays(std::int64_t days) {
  days += 719468;
  const std::int64_t era = FloorDiv(days, 146097);
  const std::int64_t dayOfEra = days - era * 146097;
  const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t monthIndex = (5 * dayOfYear + 2) / 153;
  const int day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
  const int month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
  const int year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
  return {year, month, day};
}

CivilDate DateOf(std::int64_t ms) { return CivilFromDays(WholeDays(ms) + DateTime::kZeroFromUnixEpoch); }

}  // namespace

int DateTime::Year() const { return DateOf(msSinceZero_).year; }
int DateTime::Month() const { return DateOf(msSinceZero_).month; }
int DateTime::Day() const { return DateOf(msSinceZero_).day; }

int DateTime::Hour() const { return static_cast<int>(MsOfDay(msSinceZero_) / 3'600'000); }
int DateTime::Minute() const { return static_cast<int>(MsOfDay(msSinceZero_) / 60'000 % 60); }
int DateTime::Second() const { return static_cast<int>(MsOfDay(msSinceZero_) / 1000 % 60); }
int DateTime::Millisecond() const { return static_cast<int>(MsOfDay(msSinceZero_) % 1000); }

int DateTime::DayOfWeek() const {
  constexpr int kZeroWeekday = 6;  // 1899-12-30 was a Saturday.
  return static_cast<int>((WholeDays(msSinceZero_) % 7 + 7 + kZeroWeekday) % 7);
}

}  // namespace hw
