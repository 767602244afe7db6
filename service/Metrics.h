#pragma once
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <tuple>

namespace hw::service {

// What the service counts for its operator, written in the OpenMetrics text format: requests by
// endpoint, status and reply marker, their latency, the accounts, the password hashes under way,
// the answers given without hashing because of the failure limits, and the open connections.
class Metrics {
 public:
  // Upper bounds of the latency buckets, in seconds.
  static constexpr std::array<double, 9> kBuckets{0.001, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 1, 5};

  // One answered request. `path` is reduced to the endpoint it reached (any other path counts as
  // "other"), `reply` to its marker: the first two characters of a post's reply, the first word of
  // a dyndns2 reply; nothing for the rest.
  void Count(const std::string& method, const std::string& path, int status, const std::string& reply,
             std::chrono::duration<double> took);

  // The gauges, read at the moment the page is made.
  struct Gauges {
    std::function<std::int64_t()> accounts;
    std::function<std::int64_t()> hashesInFlight;
    std::function<std::int64_t()> limitedAnswers;  // a counter kept elsewhere
    std::function<std::int64_t()> openConnections;
    std::function<std::int64_t()> slowHashes;     // a counter kept elsewhere
    std::function<std::int64_t()> checksAtOnce;   // a counter kept elsewhere
  };
  void SetGauges(Gauges gauges);

  std::string Page() const;

 private:
  struct Latency {
    std::array<std::uint64_t, kBuckets.size()> buckets{};
    std::uint64_t count = 0;
    double sum = 0;
  };

  mutable std::mutex mutex_;
  std::map<std::tuple<std::string, int, std::string>, std::uint64_t> requests_;
  std::map<std::string, Latency> latency_;
  Gauges gauges_;
};

// The endpoint a path reached, for labels: a fixed, small set.
std::string EndpointLabel(const std::string& method, const std::string& path);

}  // namespace hw::service
