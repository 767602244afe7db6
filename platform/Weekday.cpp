#include "platform/Weekday.h"

#include <clocale>
#include <ctime>

namespace hw {

std::string LocalWeekdayName(int dayOfWeek) {
  std::tm when{};
  when.tm_wday = ((dayOfWeek % 7) + 7) % 7;
  locale_t locale = ::newlocale(LC_TIME_MASK, "", static_cast<locale_t>(nullptr));
  if (!locale) locale = ::newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(nullptr));
  char name[128] = {};
  const std::size_t length = ::strftime_l(name, sizeof name, "%A", &when, locale);
  ::freelocale(locale);
  return std::string(name, length);
}

}  // namespace hw
