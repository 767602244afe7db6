#pragma once
#include <string>

#include "lifetime/DateTime.h"

namespace hw {

// The service closes at the start of 2013-06-30; a clock reading equal to it is still open.
extern const DateTime ClosingDate;

// The language id that selects the Traditional Chinese closing texts; every other id gets English.
inline constexpr unsigned kTraditionalChineseLangId = 1028;

// True when the reading is strictly later than ClosingDate.
bool IsServiceClosed(const DateTime& reading);

// Whole days between `now` and ClosingDate (either direction, time of day included, truncated)
// plus 1, so the closing day itself still counts as one day.
int DaysToClosing(const DateTime& now);

// Texts about the closing; they are built in, not looked up in the language file.
std::string CountdownNoticeText(unsigned langId, int days);
std::string ClosedNoticeText(unsigned langId);
std::string CountdownLogLine(unsigned langId, int days);
// Follows a log stamp, so it begins with a blank.
std::string ClosedLogLine(unsigned langId);

}  // namespace hw
