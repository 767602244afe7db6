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
#include "service/ServiceClock.h"
#include "service/ServiceOptions.h"

namespace {

std::string DefaultSchema(const std::string& kind) {
  return kind == "sqlite" ? "/usr/share/pdns-backend-sqlite3/schema/schema.sqlite3.sql"
                          : "/usr/share/pdns-backend-pgsql/schema/schema.pgsql.sql";
}

// Blocks SIGTERM and SIGINT for every thread, so that the main thread alone takes them, in order.
sigset_t EndSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  return signals;
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
  std::string error;
  const auto options = ParseServiceOptions(std::vector<std::string>(argv + 1, argv + argc), error);
  if (!options) {
    std::fprintf(stderr, "hostwarden-service: %s\n%s", error.c_str(), ServiceUsage().c_str());
    return 2;
  }
  try {
    const auto clock = options->clockStart.empty() ? ServiceClock() : ServiceClock::StartingAt(options->clockStart);
    if (!clock) throw std::runtime_error("--clock-start takes 'YYYY-MM-DD HH:MM:SS', not " + options->clockStart);
    auto database = OpenDatabase(options->database);
    const std::string schema = options->pdnsSchema.empty() ? DefaultSchema(database->Kind()) : options->pdnsSchema;
    AccountStore accounts(std::move(database), schema, options->domainSuffix, options->adoptZone);
    Exchange exchange(accounts, hw::TestSwitch("HOSTWARDEN_TEST_FAST_HASH") != nullptr);

    const sigset_t signals = EndSignals();  // before any thread starts
    RaiseOpenFileLimit();
    Endpoints endpoints(exchange, *clock, *options);
    FrontLimits limits;
    limits.perAddress = options->perAddress;
    HttpFront front(endpoints, limits);
    const int port = front.Start(options->host, options->port);
    std::fprintf(stderr, "hostwarden-service: listening on %s:%d\n", options->host.c_str(), port);
    if (!options->portFile.empty()) std::ofstream(options->portFile) << port << "\n";
    int received = 0;
    sigwait(&signals, &received);
    front.Stop();
    return 0;
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "hostwarden-service: %s\n", failure.what());
    return 1;
  }
}
