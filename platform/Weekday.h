#pragma once
#include <string>

namespace hw {

// The full weekday name in the user's locale (LC_ALL, else LC_TIME, else LANG), as the C library
// of this desktop writes it; 0 is Sunday. Falls back to English when the locale is not installed.
std::string LocalWeekdayName(int dayOfWeek);

}  // namespace hw
