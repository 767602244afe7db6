#include "lifetime/LogStamp.h"

#include <cstdio>

#include "platform/Weekday.h"

namespace hw {

std::string FormatLogStamp(const DateTime& when) {
  char clock[8];
  std::snprintf(clock, sizeof clock, "%02d:%02d", when.Hour(), when.Minute());
  return "[" + LocalWeekdayName(when.DayOfWeek()) + " " + clock + "]";
}

}  // namespace hw
