#pragma once
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace hw::service {

// The service's clock: it runs from a chosen start instant (a demonstration before or after the
// closing date), or from the real time. It has no time zone: the client shows what it reads.
class ServiceClock {
 public:
  // From the real time (UTC).
  ServiceClock();
  // From "YYYY-MM-DD HH:MM:SS"; nothing when the text is no such instant.
  static std::optional<ServiceClock> StartingAt(const std::string& instant);

  // Seconds since 1970-01-01 00:00:00 of the service's clock.
  std::int64_t Now() const;
  // The six lines of "/now.php": year, month, day, hour, minute, second, each ended by CR LF.
  std::string Reply() const;

 private:
  explicit ServiceClock(std::int64_t start);

  std::int64_t start_;
  std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
};

}  // namespace hw::service
