#pragma once
#include <compare>
#include <cstdint>
#include <optional>

namespace hw {

// A local calendar date and time of day, without time zone, to the millisecond. Values count from
// 1899-12-30 00:00:00.000 (a Saturday). They are held as whole milliseconds so that differences
// (the countdown to the closing date) are exact and never suffer from floating-point rounding.
class DateTime {
 public:
  static constexpr std::int64_t kMillisecondsPerDay = 86'400'000;
  // The zero, 1899-12-30, counted in days from 1970-01-01 (the count the calendar arithmetic uses).
  static constexpr std::int64_t kZeroFromUnixEpoch = -25569;

  // The scale's zero, 1899-12-30 00:00:00.000.
  constexpr DateTime() = default;

  // Gregorian date and time; nothing when a field is out of its range (year 1-9999, month 1-12,
  // day within the month, hour 0-23, minute and second 0-59, ms 0-999).
  static constexpr std::optional<DateTime> FromParts(int year, int month, int day, int hour, int minute, int second,
                                                     int ms);

  static constexpr DateTime FromMillisecondsSinceZero(std::int64_t ms) { return DateTime(ms); }

  int Year() const;
  int Month() const;
  int Day() const;
  int Hour() const;
  int Minute() const;
  int Second() const;
  int Millisecond() const;
  // 0 = Sunday ... 6 = Saturday.
  int DayOfWeek() const;

  // Days since the zero, the time of day as the fraction (negative before the zero).
  double Days() const { return static_cast<double>(msSinceZero_) / kMillisecondsPerDay; }
  constexpr std::int64_t MillisecondsSinceZero() const { return msSinceZero_; }

  friend constexpr auto operator<=>(const DateTime&, const DateTime&) = default;

  static constexpr bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }
  static constexpr int DaysInMonth(int year, int month) {
    constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
  }

 private:
  constexpr explicit DateTime(std::int64_t ms) : msSinceZero_(ms) {}

  // Days from 1970-01-01 to a proleptic Gregorian date (valid for any year, no loops).
  static constexpr std::int64_t DaysFromCivil(int year, int month, int day) {
    const std::int64_t y = year - (month <= 2 ? 1 : 0);
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yearOfEra = y - era * 400;
    const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
  }

  std::int64_t msSinceZero_ = 0;
};

constexpr std::optional<DateTime> DateTime::FromParts(int year, int month, int day, int hour, int minute, int second,
                                                      int ms) {
  const bool dateValid =
      year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 && day <= DaysInMonth(year, month);
  const bool timeValid =
      hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 && second >= 0 && second <= 59 && ms >= 0 && ms <= 999;
  if (!dateValid || !timeValid) return std::nullopt;
  const std::int64_t days = DaysFromCivil(year, month, day) - kZeroFromUnixEpoch;
  const std::int64_t msOfDay = ((hour * 60LL + minute) * 60 + second) * 1000 + ms;
  return DateTime(days * kMillisecondsPerDay + msOfDay);
}

}  // namespace hw
