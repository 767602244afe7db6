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
#include <unordered_set>
#include <vector>

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
  unsigned perAddress = 64;       // connections at once from one client address
  unsigned maxConnections = 20000;
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

 private:
  void Watch();
  MHD_Daemon* StartDaemon(unsigned flags, const void* address, int listenSocket, const Tls* tls);

  const Responder& responder_;
  FrontLimits limits_;
  Metrics* metrics_;
  MHD_Daemon* daemon_ = nullptr;
  std::vector<MHD_Daemon*> retired_;  // replaced by a reload, finishing their connections
  std::unique_ptr<WorkQueue> quick_;  // answers from the accounts that need no slow hash
  std::unique_ptr<WorkQueue> work_;   // those that do
  std::atomic<bool> closing_{false};
  std::mutex mutex_;
  std::condition_variable stopping_;
  bool stop_ = false;
  std::unordered_set<Connection*> connections_;
  std::thread watcher_;
};

}  // namespace hw::service
