#pragma once
#include <string>

#include "lifetime/DateTime.h"

namespace hw {

// "[dddd hh:mm]": the full weekday in the user's locale, the 24-hour clock, nothing else.
std::string FormatLogStamp(const DateTime& when);

}  // namespace hw
