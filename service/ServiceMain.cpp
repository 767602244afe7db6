// The reference DDNS service: the counterpart the client talks to, keeping each account's host name
// in a DNS zone that PowerDNS serves from the same database.
#include <httplib.h>
#include <signal.h>

#include <cstdio>
#include <fstream>
#include <thread>

#include "platform/TestSwitches.h"
#include "service/AccountStore.h"
#include "service/Exchange.h"
#include "service/HttpFront.h"
#include "service/ServiceClock.h"
#include "service/ServiceOptions.h"

namespace {

std::string DefaultSchema(const std::string& kind) {
  return kind == "sqlite" ? "/usr/share/pdns-backend-sqlite3/schema/schema.sqlite3.sql"
                          : "/usr/share/pdns-backend-pgsql/schema/schema.pgsql.sql";
}

// Stops the server on SIGTERM or SIGINT, from a thread of its own (nothing else is safe in a handler).
std::thread StopOnSignal(httplib::Server& server) {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  return std::thread([&server, signals] {
    int received = 0;
    sigwait(&signals, &received);
    server.stop();
  });
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

    httplib::Server server;
    MountEndpoints(server, exchange, *clock, *options);
    const int port = options->port == 0 ? server.bind_to_any_port(options->host)
                                        : (server.bind_to_port(options->host, options->port) ? options->port : -1);
    if (port < 0) throw std::runtime_error("cannot listen on " + options->host + ":" + std::to_string(options->port));
    std::thread stopper = StopOnSignal(server);
    std::fprintf(stderr, "hostwarden-service: listening on %s:%d\n", options->host.c_str(), port);
    if (!options->portFile.empty()) std::ofstream(options->portFile) << port << "\n";
    server.listen_after_bind();
    kill(getpid(), SIGTERM);  // wakes the stopper if the server ended by itself
    stopper.join();
    return 0;
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "hostwarden-service: %s\n", failure.what());
    return 1;
  }
}
