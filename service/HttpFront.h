#pragma once
#include <atomic>
#include <chrono>
#include <functional>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <memory>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "service/ConnectionShares.h"
#include "service/Endpoints.h"
#include "service/Metrics.h"
#include "service/WorkQueue.h"

struct MHD_Daemon;

namespace hw::service {

// What one client may hold of the service. Connections are served by a few threads that each wait
// on many sockets at once, so a slow or idle client costs a socket and a little memory, never a
// thread; these bounds keep even that small.
struct FrontLimits {
  std::chrono::seconds head{10};  // a request's head must arrive whole within this
  std::chrono::seconds body{10};  // and its body within this of the head
  unsigned idleSeconds = 5;       // a connection silent this long is closed
  std::size_t maxHeadBytes = 8 * 1024;
  std::size_t maxHeadLines = 64;  // past either: 431, and the connection closes
  // Connections at once from one client (an IPv4 address, an IPv6 /64), and in all, over every
  // daemon of the front. The trusted proxy's own connections count only in all; the requests it
  // forwards count for the client it names.
  unsigned perAddress = 64;
  unsigned maxConnections = 20000;
  std::string trustedProxy;
  // A daemon replaced by a certificate reload serves its open connections at most this long.
  std::chrono::seconds drain{30};
  // Builds sent at once, in all and to one client. Each holds a 32 KiB buffer and a socket for as
  // long as its client takes; sixteen at a few MB a second fill a 100 Mbit/s line, and updates come
  // once per version, so a queue of waiting readers never forms in normal use.
  unsigned maxDownloads = 16;
  unsigned downloadsPerAddress = 2;
  // A download whose client has taken less than this many bytes a second on average, once the grace
  // has passed, is cut: 16 KiB/s is a slow mobile line; a 16 MB build takes 17 minutes at it.
  std::size_t minDownloadRate = 16 * 1024;
  std::chrono::seconds downloadGrace{10};
};

enum class WorkLane { Quick, Slow };

// The service's HTTP front on libmicrohttpd (epoll, a small pool of threads): reads each request
// within the bounds above, answers it through the responder, and logs it on standard error (address,
// method, path, status and the reply's marker or size; never a body, so never a password).
class HttpFront {
 public:
  // `metrics`, when given, counts every answered request.
  HttpFront(const Responder& responder, FrontLimits limits, Metrics* metrics = nullptr);
  ~HttpFront();
  HttpFront(const HttpFront&) = delete;
  HttpFront& operator=(const HttpFront&) = delete;

  // The certificate chain and private key (PEM) that make the front speak HTTPS.
  struct Tls {
    std::string certificate;
    std::string key;
  };

  // Listens on host:port (port 0: any free one) and serves from now on, over TLS when `tls` is
  // given; returns the port. Throws std::runtime_error "cannot listen on host:port" when it cannot.
  int Start(const std::string& host, int port, const Tls* tls = nullptr);
  // Serves new connections with another certificate from now on, on the same socket; the
  // connections open already finish with the old one. Throws std::runtime_error, and the old one
  // serves on, when the new one cannot be used.
  void Reload(const Tls& tls);
  void Stop();
  bool Serving() const { return daemon_ != nullptr; }

  // What the front's callbacks reach; not for other use.
  struct Connection;
  const Responder& responder() const { return responder_; }
  // Runs an answer away from the connections; false when too many wait already.
  bool Defer(WorkLane lane, std::function<void()> job) {
    WorkQueue* queue = lane == WorkLane::Quick ? quick_.get() : work_.get();
    return queue && queue->Submit(std::move(job));
  }
  bool Closing() const { return closing_; }
  const FrontLimits& limits() const { return limits_; }
  Metrics* metrics() const { return metrics_; }
  std::int64_t OpenConnections();
  void Opened(Connection* connection);
  void Closed(Connection* connection);
  ConnectionShares& connectionShares() { return connectionShares_; }
  ConnectionShares& proxiedShares() { return proxiedShares_; }
  ConnectionShares& downloadShares() { return downloadShares_; }
  // Whether the address (in plain form) is the trusted proxy's.
  bool IsTrustedProxy(const std::string& plainAddress) const;
  // A connection of the daemon is to wait for a worker's answer (false: the daemon is being
  // stopped, the connection must not wait), or no longer does.
  bool Suspending(MHD_Daemon* daemon);
  void Resumed(MHD_Daemon* daemon);

 private:
  void Watch();
  MHD_Daemon* StartDaemon(unsigned flags, const void* address, int listenSocket, const Tls* tls);

  const Responder& responder_;
  FrontLimits limits_;
  Metrics* metrics_;
  MHD_Daemon* daemon_ = nullptr;
  struct Retired {
    MHD_Daemon* daemon;
    std::chrono::steady_clock::time_point deadline;
  };
  void StopRetired(std::unique_lock<std::mutex>& lock, std::chrono::steady_clock::time_point now);
  bool DownloadTooSlow(const Connection& connection, std::chrono::steady_clock::time_point now) const;

  std::vector<Retired> retired_;  // replaced by a reload, finishing their connections
  std::unique_ptr<WorkQueue> quick_;  // answers from the accounts that need no slow hash
  std::unique_ptr<WorkQueue> work_;   // those that do
  std::atomic<bool> closing_{false};
  std::mutex mutex_;
  std::condition_variable stopping_;
  bool stop_ = false;
  std::unordered_set<Connection*> connections_;
  std::unordered_map<MHD_Daemon*, int> suspended_;  // connections whose answer a worker makes
  std::unordered_set<MHD_Daemon*> ending_;           // retired daemons being stopped
  ConnectionShares connectionShares_;
  ConnectionShares proxiedShares_;
  ConnectionShares downloadShares_;
  std::string trustedProxy_;  // in plain form
  std::thread watcher_;
};

}  // namespace hw::service
