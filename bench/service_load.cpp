// Load for the reference service: many registered accounts checking at once over kept connections,
// beside many idle connections, as the service meets them on the open internet.
//
//   service_load seed DATABASE-FILE ACCOUNTS [KEY-FILE]
//       puts ACCOUNTS accounts (password "secret1", real Argon2id cost, last address 127.0.0.1) into
//       the service's SQLite file, which the service made before; with the service's key file, as
//       accounts whose password was verified before, each with its A record at 127.0.0.1
//   service_load envelopes ACCOUNTS
//       prints the check of each account (its form body), one a line
//   service_load run PORT ACCOUNTS SECONDS CONNECTIONS IDLE
//       holds IDLE idle connections (50 from each of 127.0.1.1, 127.0.1.2, ...), checks every
//       account once (the first verification is Argon2's), then checks for SECONDS over CONNECTIONS
//       kept connections and prints checks per second and the 50th and 99th percentile latency
#include <arpa/inet.h>
#include <sodium.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ddns/Envelope.h"
#include "service/VerificationKey.h"
#include "service/VerifiedPasswords.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string AccountName(int i) { return "acct" + std::to_string(i); }
std::string MachineOf(int i) {
  char id[13];
  std::snprintf(id, sizeof id, "%012X", i);
  return id;
}

// Runs a statement with text parameters; false when it fails or changes no row.
bool Exec(sqlite3* db, const char* sql, const std::vector<std::string>& values) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK) return false;
  for (std::size_t i = 0; i < values.size(); ++i)
    sqlite3_bind_text(statement, static_cast<int>(i + 1), values[i].c_str(), -1, SQLITE_TRANSIENT);
  // An INSERT ... SELECT that finds nothing (no such zone) is done but wrote nothing.
  const bool done = sqlite3_step(statement) == SQLITE_DONE && sqlite3_changes(db) > 0;
  sqlite3_finalize(statement);
  return done;
}

// The digest and the A record of an account verified before, as the service would have left them.
bool SeedVerified(sqlite3* db, const hw::service::VerifiedPasswords& digests, const std::string& hash, int i) {
  const std::string name = AccountName(i);
  return Exec(db, "INSERT INTO ddns_verified (name, digest) VALUES (?1, ?2)", {name, digests.DigestOf(hash, "secret1")}) &&
         Exec(db,
              "INSERT INTO records (domain_id, name, type, content, ttl, prio, disabled, auth) SELECT id, ?1, 'A',"
              " '127.0.0.1', 60, 0, 0, 1 FROM domains WHERE name = 'hostwarden.test'",
              {name + ".hostwarden.test"}) &&
         Exec(db, "INSERT INTO ddns_records (record_id, account) VALUES (last_insert_rowid(), ?1)", {name});
}

int Seed(const char* file, int accounts, const char* keyFile) {
  if (sodium_init() < 0) return 1;
  std::optional<hw::service::VerifiedPasswords> digests;
  if (keyFile) digests.emplace(hw::service::LoadOrMakeKey(keyFile));
  char hash[crypto_pwhash_STRBYTES];
  if (crypto_pwhash_str(hash, "secret1", 7, crypto_pwhash_OPSLIMIT_INTERACTIVE, crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
    return 1;
  sqlite3* db = nullptr;
  if (sqlite3_open(file, &db) != SQLITE_OK) return 1;
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db,
                     "INSERT INTO ddns_accounts (name, password_hash, machine_id, address, updated)"
                     " VALUES (?1, ?2, ?3, '127.0.0.1', 0)",
                     -1, &insert, nullptr);
  for (int i = 0; i < accounts; ++i) {
    const std::string name = AccountName(i), machine = MachineOf(i);
    sqlite3_bind_text(insert, 1, name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 2, hash, -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 3, machine.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(insert) != SQLITE_DONE) return 1;
    sqlite3_reset(insert);
    if (digests && !SeedVerified(db, *digests, hash, i)) return 1;
  }
  sqlite3_finalize(insert);
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  return 0;
}

int Connect(int port, const std::string& from) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  ::inet_pton(AF_INET, from.c_str(), &local.sin_addr);
  ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
  sockaddr_in service{};
  service.sin_family = AF_INET;
  service.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  service.sin_port = htons(static_cast<uint16_t>(port));
  if (::connect(fd, reinterpret_cast<sockaddr*>(&service), sizeof service) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// One check on a kept connection; its reply's first two characters, or nothing when it failed.
std::string Check(int fd, int account, const std::string& password = "secret1") {
  const std::string body = hw::BuildEnvelope(AccountName(account), password, MachineOf(account));
  const std::string request = "POST /fo.php HTTP/1.1\r\nHost: load\r\nContent-Type: application/x-www-form-urlencoded"
                              "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) return {};
  std::string reply;
  char buffer[4096];
  for (;;) {
    const auto end = reply.find("\r\n\r\n");
    if (end != std::string::npos) {
      const auto length = reply.find("Content-Length: ");
      const std::size_t size = length == std::string::npos ? 0 : std::stoul(reply.substr(length + 16));
      if (reply.size() >= end + 4 + size) return reply.substr(end + 4, 2);
    }
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) return {};
    reply.append(buffer, static_cast<std::size_t>(n));
  }
}

struct Outcome {
  std::vector<double> latencies;  // seconds
  int failed = 0;
};

// CONNECTIONS workers, each on its own kept connection, take accounts in turn until `until` (or,
// with no time, until every account has been checked once).
Outcome Drive(int port, int accounts, int connections, Clock::time_point until, bool once) {
  std::atomic<long> next{0};
  std::mutex mutex;
  Outcome outcome;
  std::vector<std::thread> workers;
  for (int w = 0; w < connections; ++w) {
    workers.emplace_back([&, w] {
      Outcome mine;
      int fd = Connect(port, "127.0.0." + std::to_string(1 + w % 200));
      for (;;) {
        const long taken = next++;
        if (once ? taken >= accounts : Clock::now() >= until) break;
        const auto started = Clock::now();
        const std::string marker = fd >= 0 ? Check(fd, static_cast<int>(taken % accounts)) : std::string();
        if (marker != "##" && marker != "**") {
          ++mine.failed;
          if (fd >= 0) ::close(fd);
          fd = Connect(port, "127.0.0." + std::to_string(1 + w % 200));
          continue;
        }
        mine.latencies.push_back(std::chrono::duration<double>(Clock::now() - started).count());
      }
      if (fd >= 0) ::close(fd);
      const std::lock_guard lock(mutex);
      outcome.latencies.insert(outcome.latencies.end(), mine.latencies.begin(), mine.latencies.end());
      outcome.failed += mine.failed;
    });
  }
  for (auto& worker : workers) worker.join();
  return outcome;
}

void Report(const char* what, Outcome outcome, double seconds) {
  std::sort(outcome.latencies.begin(), outcome.latencies.end());
  const auto at = [&](double share) {
    return outcome.latencies.empty() ? 0.0 : outcome.latencies[static_cast<std::size_t>(share * (outcome.latencies.size() - 1))];
  };
  std::printf("%s: %zu checks in %.1f s = %.0f checks/s; latency p50 %.1f ms, p99 %.1f ms; %d failed\n", what,
              outcome.latencies.size(), seconds, outcome.latencies.size() / seconds, at(0.5) * 1000, at(0.99) * 1000,
              outcome.failed);
}

// Wrong passwords for account 0 from eight addresses, as fast as the service answers, until `stop`.
std::vector<std::thread> Flood(int port, std::atomic<bool>& stop, std::atomic<long>& sent) {
  std::vector<std::thread> flooders;
  for (int f = 0; f < 8; ++f)
    flooders.emplace_back([&, f] {
      int fd = Connect(port, "127.0.2." + std::to_string(1 + f));
      while (!stop) {
        if (fd < 0 || Check(fd, 0, "guess" + std::to_string(sent++)).empty()) {
          if (fd >= 0) ::close(fd);
          fd = Connect(port, "127.0.2." + std::to_string(1 + f));
        }
      }
      if (fd >= 0) ::close(fd);
    });
  return flooders;
}

int Run(int port, int accounts, int seconds, int connections, int idle) {
  rlimit limit{};
  ::getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = limit.rlim_max;
  ::setrlimit(RLIMIT_NOFILE, &limit);
  std::vector<int> held;
  for (int i = 0; i < idle; ++i) {
    const int fd = Connect(port, "127.0.1." + std::to_string(1 + i / 50 % 250));
    if (fd >= 0) held.push_back(fd);
  }
  std::printf("idle connections held: %zu of %d\n", held.size(), idle);
  auto started = Clock::now();
  Outcome outcome = Drive(port, accounts, connections, {}, true);
  Report("first check of each account (Argon2id)", outcome, std::chrono::duration<double>(Clock::now() - started).count());
  started = Clock::now();
  outcome = Drive(port, accounts, connections, started + std::chrono::seconds(seconds), false);
  Report("checks of verified accounts", outcome, std::chrono::duration<double>(Clock::now() - started).count());
  std::atomic<bool> stop{false};
  std::atomic<long> guesses{0};
  std::vector<std::thread> flooders = Flood(port, stop, guesses);
  started = Clock::now();
  outcome = Drive(port, accounts, connections, started + std::chrono::seconds(seconds), false);
  const double took = std::chrono::duration<double>(Clock::now() - started).count();
  stop = true;
  for (auto& flooder : flooders) flooder.join();
  Report("the same during a flood of wrong passwords from eight addresses", outcome, took);
  std::printf("wrong passwords sent by the flood: %ld (%.0f/s)\n", guesses.load(), guesses / took);
  for (const int fd : held) ::close(fd);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "seed" && (argc == 4 || argc == 5)) return Seed(argv[2], std::atoi(argv[3]), argc == 5 ? argv[4] : nullptr);
  if (mode == "envelopes" && argc == 3) {
    for (int i = 0; i < std::atoi(argv[2]); ++i) std::printf("%s\n", hw::BuildEnvelope(AccountName(i), "secret1", MachineOf(i)).c_str());
    return 0;
  }
  if (mode == "run" && argc == 7)
    return Run(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]), std::atoi(argv[6]));
  std::fprintf(stderr,
               "usage: service_load seed DATABASE-FILE ACCOUNTS [KEY-FILE]\n"
               "       service_load envelopes ACCOUNTS\n"
               "       service_load run PORT ACCOUNTS SECONDS CONNECTIONS IDLE\n");
  return 2;
}
