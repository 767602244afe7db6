#include "service/ServiceClock.h"

#include <ctime>

namespace hw::service {

ServiceClock::ServiceClock()
    : ServiceClock(std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
                       .count()) {}

ServiceClock::ServiceClock(std::int64_t start) : start_(start) {}

std::optional<ServiceClock> ServiceClock::StartingAt(const std::string& instant) {
  std::tm fields{};
  char rest = 0;
  if (std::sscanf(instant.c_str(), "%d-%d-%d %d:%d:%d%c", &fields.tm_year, &fields.tm_mon, &fields.tm_mday,
                  &fields.tm_hour, &fields.tm_min, &fields.tm_sec, &rest) != 6)
    return std::nullopt;
  fields.tm_year -= 1900;
  fields.tm_mon -= 1;
  const std::tm asked = fields;
  const std::time_t start = ::timegm(&fields);
  // timegm puts days like February 30 right; an instant it had to put right was no instant.
  if (fields.tm_mday != asked.tm_mday || fields.tm_mon != asked.tm_mon || fields.tm_hour != asked.tm_hour ||
      fields.tm_min != asked.tm_min || fields.tm_sec != asked.tm_sec)
    return std::nullopt;
  return ServiceClock(start);
}

std::int64_t ServiceClock::Now() const {
  return start_ + std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started_).count();
}

std::string ServiceClock::Reply() const {
  const std::time_t now = static_cast<std::time_t>(Now());
  std::tm fields{};
  ::gmtime_r(&now, &fields);
  std::string reply;
  for (const int value :
       {fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday, fields.tm_hour, fields.tm_min, fields.tm_sec})
    reply += std::to_string(value) + "\r\n";
  return reply;
}

}  // namespace hw::service
