// The reference DDNS service: the counterpart the client talks to, keeping each account's host name
// in a DNS zone that PowerDNS serves from the same database.
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>

#include <cstdio>
#include <fstream>

#include "platform/TestSwitches.h"
#include "service/AccountStore.h"
#include "service/Endpoints.h"
#include "service/Exchange.h"
#include "service/HttpFront.h"
#include "service/Metrics.h"
#include "service/MetricsPage.h"
#include "service/ServiceClock.h"
#include "service/ServiceOptions.h"
#include "service/Upkeep.h"
#include "service/VerificationKey.h"

namespace {

std::string DefaultSchema(const std::string& kind) {
  return kind == "sqlite" ? "/usr/share/pdns-backend-sqlite3/schema/schema.sqlite3.sql"
                          : "/usr/share/pdns-backend-pgsql/schema/schema.pgsql.sql";
}

// Blocks SIGTERM, SIGINT and SIGHUP for every thread, so that the main thread alone takes them, in
// order: the first two end the service, the third reads the TLS certificate again.
sigset_t ControlSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  return signals;
}

// A PEM file: small, read whole.
std::string ReadPem(const std::string& file) {
  constexpr std::size_t kMaxPemBytes = 1024 * 1024;
  std::ifstream in(file, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + file);
  std::string text(kMaxPemBytes + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
  if (text.size() > kMaxPemBytes) throw std::runtime_error(file + " is larger than a certificate or key can be");
  return text;
}

hw::service::HttpFront::Tls ReadTls(const hw::service::ServiceOptions& options) {
  return {ReadPem(options.tlsCertificate), ReadPem(options.tlsKey)};
}

// Sockets for as many connections as the system lets this process have.
void RaiseOpenFileLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
  limit.rlim_cur = limit.rlim_max;
  ::setrlimit(RLIMIT_NOFILE, &limit);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace hw::service;
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  if (arguments.size() == 1 && (arguments[0] == "--help" || arguments[0] == "-h")) {
    std::fputs(ServiceUsage().c_str(), stdout);
    return 0;
  }
  std::string error;
  const auto options = ParseServiceOptions(arguments, error);
  if (!options) {
    std::fprintf(stderr, "hostwarden-service: %s\n%s", error.c_str(), ServiceUsage().c_str());
    return 2;
  }
  try {
    const auto clock = options->clockStart.empty() ? ServiceClock() : ServiceClock::StartingAt(options->clockStart);
    if (!clock) throw std::runtime_error("--clock-start takes 'YYYY-MM-DD HH:MM:SS', not " + options->clockStart);
    auto database = OpenDatabase(options->database);
    const std::string schema = options->pdnsSchema.empty() ? DefaultSchema(database->Kind()) : options->pdnsSchema;
    const Budget recordChanges{static_cast<double>(options->recordChanges),
                               std::chrono::milliseconds(60000 / options->recordChanges)};
    AccountStore accounts(std::move(database), schema, options->domainSuffix, options->adoptZone, recordChanges);
    Exchange exchange(accounts, hw::TestSwitch("HOSTWARDEN_TEST_FAST_HASH") != nullptr, 
                      LoadOrMakeKey(options->keyFile.empty() ? DefaultKeyFile(options->database) : options->keyFile));

    const std::size_t warm = accounts.WarmUp();
    std::fprintf(stderr, "hostwarden-service: %zu verified accounts in memory\n", warm);
    const sigset_t signals = ControlSignals();  // before any thread starts
    const Upkeep upkeep(std::chrono::seconds(1), [&] { accounts.CatchUp(); });
    const Upkeep changes(std::chrono::milliseconds(100), [&] { accounts.FollowChanges(); });
    RaiseOpenFileLimit();
    Endpoints endpoints(exchange, *clock, *options);
    Metrics metrics;
    FrontLimits limits;
    limits.perAddress = options->perAddress;
    limits.trustedProxy = options->trustedProxy;
    limits.drain = std::chrono::seconds(options->reloadDrainSeconds);
    HttpFront front(endpoints, limits, &metrics);
    MetricsPage page(metrics);
    HttpFront metricsFront(page, FrontLimits{});
    metrics.SetGauges({[&] { return accounts.Count(); }, [&] { return exchange.HashesInFlight(); },
                       [&] { return static_cast<std::int64_t>(exchange.LimitedAnswers()); },
                       [&] { return front.OpenConnections(); },
                       [&] { return static_cast<std::int64_t>(exchange.SlowHashes()); },
                       [&] { return static_cast<std::int64_t>(exchange.ChecksAtOnce()); }});
    if (!options->metricsHost.empty()) {
      const int port = metricsFront.Start(options->metricsHost, options->metricsPort);
      std::fprintf(stderr, "hostwarden-service: metrics on %s:%d/metrics\n", options->metricsHost.c_str(), port);
      if (!options->metricsPortFile.empty()) std::ofstream(options->metricsPortFile) << port << "\n";
    }
    const bool https = !options->tlsCertificate.empty();
    const HttpFront::Tls tls = https ? ReadTls(*options) : HttpFront::Tls{};
    const int port = front.Start(options->host, options->port, https ? &tls : nullptr);
    std::fprintf(stderr, "hostwarden-service: listening on %s:%d%s\n", options->host.c_str(), port,
                 https ? " (HTTPS)" : "");
    if (!options->portFile.empty()) std::ofstream(options->portFile) << port << "\n";
    for (int received = 0; sigwait(&signals, &received) == 0 && received == SIGHUP;) {
      if (!https) continue;
      try {
        front.Reload(ReadTls(*options));
        std::fprintf(stderr, "hostwarden-service: TLS certificate read again\n");
      } catch (const std::runtime_error& failure) {
        if (!front.Serving()) throw;  // nothing accepts any more: end, and be started anew
        std::fprintf(stderr, "hostwarden-service: %s\n", failure.what());
      }
    }
    front.Stop();
    metricsFront.Stop();
    accounts.Flush();
    return 0;
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "hostwarden-service: %s\n", failure.what());
    return 1;
  }
}
