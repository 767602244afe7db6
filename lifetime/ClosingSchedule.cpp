#include "lifetime/ClosingSchedule.h"

#include <cstdint>
#include <cstdlib>

namespace hw {

// Constant-initialised, so code that runs during static start-up already sees the right value.
constinit const DateTime ClosingDate = *DateTime::FromParts(2013, 6, 30, 0, 0, 0, 0);

namespace {

bool IsTraditionalChinese(unsigned langId) { return langId == kTraditionalChineseLangId; }

// Picks the built-in text for the language.
std::string Choose(unsigned langId, const char* english, const char* chinese) {
  return IsTraditionalChinese(langId) ? chinese : english;
}

// The texts below are the service's own announcement, word for word: "days close" and the "\n\r"
// line break of the closed notice are as announced, not slips to correct.

// The number of days followed by its unit; both countdown texts end this way.
std::string DaysLeftText(unsigned langId, int days) {
  return std::to_string(days) + Choose(langId, " days close", " 天後關閉");
}

}  // namespace

bool IsServiceClosed(const DateTime& reading) { return reading > ClosingDate; }

int DaysToClosing(const DateTime& now) {
  const std::int64_t apart = std::abs(now.MillisecondsSinceZero() - ClosingDate.MillisecondsSinceZero());
  return static_cast<int>(apart / DateTime::kMillisecondsPerDay) + 1;
}

std::string CountdownNoticeText(unsigned langId, int days) {
  return Choose(langId, "Our DDNS service will be \r\n", "我們的 DDNS 服務將於 \r\n") + DaysLeftText(langId, days);
}

std::string ClosedNoticeText(unsigned langId) {
  return Choose(langId, "Our DDNS service\n\rhas been closed.", "我們的 DDNS 服務\n\r已經關閉");
}

std::string CountdownLogLine(unsigned langId, int days) {
  return Choose(langId, "[Notification] Our DDNS service will be ", "[注意] 我們的 DDNS 服務將於 ") +
         DaysLeftText(langId, days);
}

std::string ClosedLogLine(unsigned langId) {
  return Choose(langId, " Our DDNS service has been closed.", " 我們的 DDNS 服務已經關閉");
}

}  // namespace hw
