#pragma once
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>

#include "service/Endpoints.h"

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

// The service's HTTP front on libmicrohttpd (epoll, a small pool of threads): reads each request
// within the bounds above, answers it through the endpoints, and logs it on standard error (address,
// method, path, status and the reply's marker or size; never a body, so never a password).
class HttpFront {
 public:
  HttpFront(const Endpoints& endpoints, FrontLimits limits);
  ~HttpFront();
  HttpFront(const HttpFront&) = delete;
  HttpFront& operator=(const HttpFront&) = delete;

  // Listens on host:port (port 0: any free one) and serves from now on; returns the port.
  // Throws std::runtime_error "cannot listen on host:port" when it cannot.
  int Start(const std::string& host, int port);
  void Stop();

  // What the front's callbacks reach; not for other use.
  struct Connection;
  const Endpoints& endpoints() const { return endpoints_; }
  const FrontLimits& limits() const { return limits_; }
  void Opened(Connection* connection);
  void Closed(Connection* connection);

 private:
  void Watch();

  const Endpoints& endpoints_;
  FrontLimits limits_;
  MHD_Daemon* daemon_ = nullptr;
  std::mutex mutex_;
  std::condition_variable stopping_;
  bool stop_ = false;
  std::unordered_set<Connection*> connections_;
  std::thread watcher_;
};

}  // namespace hw::service
