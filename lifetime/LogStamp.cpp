#include "lifetime/LogStamp.h"

#include <cstdio>

#include "platform/Weekday.h"

namespace hw {

std::string FormatLogStamp(const DateTime& when) {
  char clock[8];
  std::snprintf(clock, sizeof clock, "%02d:%02d", when.Hour(), when.Minute());
  // Appended rather than a literal + string, which GCC 12 at -O3 wrongly warns of (-Wrestrict).
  return std::string("[").append(LocalWeekdayName(when.DayOfWeek())).append(" ").append(clock).append("]");
}

}  // namespace hw
