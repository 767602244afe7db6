#include "lifetime/ServerClock.h"

#include <cstdint>

#include "common/AppError.h"
#include "common/IntegerText.h"
#include "platform/LocaleSeparators.h"

namespace hw {

DateTime ServerNow;

namespace {

enum ClockLine { kYear = 0, kMonth = 1, kDay = 2, kHour = 3, kMinute = 4, kSecond = 5 };

// The reply's fields as the 16-bit values the range test sees.
struct ClockFields {
  std::uint16_t year, month, day, hour, minute, second;
};

std::uint16_t FieldOfLine(const std::vector<std::string>& lines, ClockLine index) {
  if (static_cast<std::size_t>(index) >= lines.size()) {
    throw ListIndexError("List index out of bounds (" + std::to_string(index) + ")");
  }
  // Only the low 16 bits count, so "-1" becomes 65535 and fails the range test below.
  return static_cast<std::uint16_t>(StrToInt(lines[index]));
}

// The time lines are taken before the date lines: which line is reported missing or malformed
// depends on this order.
ClockFields ReadFields(const std::vector<std::string>& lines) {
  ClockFields fields{};
  fields.hour = FieldOfLine(lines, kHour);
  fields.minute = FieldOfLine(lines, kMinute);
  fields.second = FieldOfLine(lines, kSecond);
  fields.day = FieldOfLine(lines, kDay);
  fields.month = FieldOfLine(lines, kMonth);
  fields.year = FieldOfLine(lines, kYear);
  return fields;
}

// 65535 is what an unreadable field looks like after the 16-bit cut; it is shown as "?".
std::string FieldText(std::uint16_t value) { return value == 0xFFFF ? "?" : std::to_string(value); }

// Written with the user's own date, time and decimal separators, as the user reads dates.
std::string DescribeFields(const ClockFields& f) {
  const DateTimeSeparators s = UserDateTimeSeparators();
  return FieldText(f.year) + s.date + FieldText(f.month) + s.date + FieldText(f.day) + " " + FieldText(f.hour) +
         s.time + FieldText(f.minute) + s.time + FieldText(f.second) + s.decimal + "0";
}

}  // namespace

std::vector<std::string> SplitReplyLines(std::string_view body) {
  body = body.substr(0, body.find('\0'));
  std::vector<std::string> lines;
  while (!body.empty()) {
    const auto end = body.find_first_of("\r\n");
    lines.emplace_back(body.substr(0, end));
    if (end == std::string_view::npos) break;
    const bool crLf = body[end] == '\r' && end + 1 < body.size() && body[end + 1] == '\n';
    body.remove_prefix(end + (crLf ? 2 : 1));
  }
  return lines;
}

DateTime DecodeClockReply(std::string_view body) {
  const ClockFields f = ReadFields(SplitReplyLines(body));
  const auto reading = DateTime::FromParts(f.year, f.month, f.day, f.hour, f.minute, f.second, 0);
  if (!reading) {
    // The doubled quotes are part of the message as users have always seen it.
    throw ConvertError(FormatMessage("''%s'' is not a valid date and time", DescribeFields(f)));
  }
  return *reading;
}

}  // namespace hw
