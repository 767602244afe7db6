#include "service/Metrics.h"

#include <sstream>

namespace hw::service {
namespace {

std::string MarkerLabel(const std::string& endpoint, const std::string& reply) {
  if (endpoint == "/sj.php" || endpoint == "/fo.php" || endpoint == "/lk.php") {
    const std::string marker = reply.substr(0, 2);
    for (const char* known : {"##", "**", "%%", "@@", "!!", "^^"})
      if (marker == known) return marker;
    return {};
  }
  if (endpoint == "/nic/update") {
    const std::string word = reply.substr(0, reply.find(' '));
    for (const char* known : {"good", "nochg", "badauth", "nohost", "notfqdn"})
      if (word == known) return word;
  }
  return {};
}

// A label value as OpenMetrics writes it: backslash, quote and line end escaped.
std::string Quoted(const std::string& value) {
  std::string quoted = "\"";
  for (const char c : value) {
    if (c == '\\' || c == '"') quoted += '\\';
    quoted += c == '\n' ? std::string("\\n") : std::string(1, c);
  }
  return quoted + "\"";
}

}  // namespace

std::string EndpointLabel(const std::string& method, const std::string& path) {
  if (method == "GET" && (path == "/now.php" || path == "/" || path == "/nic/update")) return path;
  if (method == "GET" && path.starts_with("/hostwarden")) return "/hostwarden";
  if (method == "POST" && (path == "/sj.php" || path == "/fo.php" || path == "/lk.php")) return path;
  return "other";
}

void Metrics::Count(const std::string& method, const std::string& path, int status, const std::string& reply,
                    std::chrono::duration<double> took) {
  const std::string endpoint = EndpointLabel(method, path);
  const std::lock_guard lock(mutex_);
  ++requests_[{endpoint, status, MarkerLabel(endpoint, reply)}];
  Latency& latency = latency_[endpoint];
  for (std::size_t i = 0; i < kBuckets.size(); ++i)
    if (took.count() <= kBuckets[i]) ++latency.buckets[i];
  ++latency.count;
  latency.sum += took.count();
}

void Metrics::SetGauges(Gauges gauges) {
  const std::lock_guard lock(mutex_);
  gauges_ = std::move(gauges);
}

std::string Metrics::Page() const {
  std::ostringstream page;
  const std::lock_guard lock(mutex_);
  page << "# TYPE hostwarden_requests counter\n"
          "# HELP hostwarden_requests Requests answered, by endpoint, status and reply marker.\n";
  for (const auto& [labels, count] : requests_) {
    const auto& [endpoint, status, marker] = labels;
    page << "hostwarden_requests_total{endpoint=" << Quoted(endpoint) << ",status=\"" << status
         << "\",marker=" << Quoted(marker) << "} " << count << "\n";
  }
  page << "# TYPE hostwarden_request_duration_seconds histogram\n"
          "# HELP hostwarden_request_duration_seconds Time from a request's head to its answer.\n";
  for (const auto& [endpoint, latency] : latency_) {
    for (std::size_t i = 0; i < kBuckets.size(); ++i)
      page << "hostwarden_request_duration_seconds_bucket{endpoint=" << Quoted(endpoint) << ",le=\"" << kBuckets[i]
           << "\"} " << latency.buckets[i] << "\n";
    page << "hostwarden_request_duration_seconds_bucket{endpoint=" << Quoted(endpoint) << ",le=\"+Inf\"} "
         << latency.count << "\n"
         << "hostwarden_request_duration_seconds_count{endpoint=" << Quoted(endpoint) << "} " << latency.count << "\n"
         << "hostwarden_request_duration_seconds_sum{endpoint=" << Quoted(endpoint) << "} " << latency.sum << "\n";
  }
  const auto gauge = [&](const char* name, const char* type, const char* help, const std::function<std::int64_t()>& read) {
    if (!read) return;
    page << "# TYPE " << name << " " << type << "\n# HELP " << name << " " << help << "\n"
         << name << (std::string(type) == "counter" ? "_total" : "") << " " << read() << "\n";
  };
  gauge("hostwarden_accounts", "gauge", "Registered accounts.", gauges_.accounts);
  gauge("hostwarden_password_hashes", "counter", "Argon2 computations done.", gauges_.slowHashes);
  gauge("hostwarden_password_hashes_in_flight", "gauge", "Argon2 computations under way.", gauges_.hashesInFlight);
  gauge("hostwarden_limited_answers", "counter", "Answers given without a hash: the failure limit was reached.",
        gauges_.limitedAnswers);
  gauge("hostwarden_checks_from_memory", "counter", "Checks answered from memory, without the database.",
        gauges_.checksAtOnce);
  gauge("hostwarden_open_connections", "gauge", "Client connections open now.", gauges_.openConnections);
  page << "# EOF\n";
  return page.str();
}

}  // namespace hw::service
