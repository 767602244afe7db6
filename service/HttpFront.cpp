#include "service/HttpFront.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netdb.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

#include "service/ClientAddress.h"

namespace hw::service {

using Clock = std::chrono::steady_clock;

// A connection as the watcher sees it: when its current request began and how far it has come.
struct HttpFront::Connection {
  int fd = -1;
  std::atomic<Clock::rep> since{0};     // the request's start, or its head's end once the head is in
  std::atomic<bool> headIn{false};
  std::atomic<bool> answered{false};    // the body is in: what remains is the service's to do
};

namespace {

// One request in the making: its head as read, its body as it comes.
struct InFlight {
  Request request;
  Clock::time_point headIn = Clock::now();
  std::optional<Response> ready;  // a slow answer, made away from the connection
  bool bodyTooLarge = false;
  bool headTooLarge = false;
};

struct HeadSize {
  std::size_t bytes = 0;
  std::size_t lines = 0;
};

MHD_Result CountHeader(void* context, MHD_ValueKind, const char* key, const char* value) {
  auto& size = *static_cast<HeadSize*>(context);
  size.bytes += std::strlen(key) + (value ? std::strlen(value) : 0) + 4;  // "key: value\r\n"
  ++size.lines;
  return MHD_YES;
}

MHD_Result TakeHeader(void* context, MHD_ValueKind, const char* key, const char* value) {
  auto& request = *static_cast<Request*>(context);
  if (!value) return MHD_YES;
  if (::strcasecmp(key, "X-Forwarded-For") == 0) request.forwardedFor.emplace_back(value);
  if (::strcasecmp(key, "Authorization") == 0) request.authorization = value;
  return MHD_YES;
}

MHD_Result TakeArgument(void* context, MHD_ValueKind, const char* key, const char* value) {
  static_cast<Request*>(context)->arguments.emplace(key, value ? value : "");
  return MHD_YES;
}

std::string PeerOf(MHD_Connection* connection) {
  const auto* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
  if (!info || !info->client_addr) return {};
  char text[INET6_ADDRSTRLEN] = {};
  const sockaddr* address = info->client_addr;
  if (address->sa_family == AF_INET)
    ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
  else if (address->sa_family == AF_INET6)
    ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text, sizeof text);
  return text;
}

HttpFront::Connection* StateOf(MHD_Connection* connection) {
  const auto* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
  return info ? static_cast<HttpFront::Connection*>(info->socket_context) : nullptr;
}

MHD_Result Send(MHD_Connection* connection, const Response& response, bool close) {
  MHD_Response* reply =
      MHD_create_response_from_buffer(response.body.size(), const_cast<char*>(response.body.data()),
                                      MHD_RESPMEM_MUST_COPY);
  if (!reply) return MHD_NO;
  MHD_add_response_header(reply, MHD_HTTP_HEADER_CONTENT_TYPE, response.contentType.c_str());
  if (close) MHD_add_response_header(reply, MHD_HTTP_HEADER_CONNECTION, "close");
  const MHD_Result queued = MHD_queue_response(connection, static_cast<unsigned>(response.status), reply);
  MHD_destroy_response(reply);
  return queued;
}

void Log(const std::string& client, const Request& request, const Response& response) {
  const std::string marker = response.body.substr(0, std::min<std::size_t>(response.body.size(), 2));
  std::fprintf(stderr, "hostwarden-service: %s %s %s %d %s\n", LogSafe(client).c_str(),
               LogSafe(request.method).c_str(), LogSafe(request.path).c_str(), response.status,
               request.method == "POST" ? LogSafe(marker).c_str() : std::to_string(response.body.size()).c_str());
}

// The head is in: checked against its bounds and read into the request.
std::unique_ptr<InFlight> BeginExchange(HttpFront& front, MHD_Connection* connection, const char* url,
                                        const char* method) {
  auto exchange = std::make_unique<InFlight>();
  HeadSize size;
  MHD_get_connection_values(connection, MHD_HEADER_KIND, &CountHeader, &size);
  size.bytes += std::strlen(url) + std::strlen(method) + 12;  // the request line
  exchange->headTooLarge = size.bytes > front.limits().maxHeadBytes || size.lines > front.limits().maxHeadLines;
  Request& request = exchange->request;
  request.method = method;
  request.path = url;
  request.peer = PeerOf(connection);
  MHD_get_connection_values(connection, MHD_HEADER_KIND, &TakeHeader, &request);
  MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, &TakeArgument, &request);
  const char* length = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
  exchange->bodyTooLarge = length && std::strtoull(length, nullptr, 10) > kMaxBodyBytes;
  if (HttpFront::Connection* state = StateOf(connection)) {
    state->since = Clock::now().time_since_epoch().count();
    state->headIn = true;
  }
  return exchange;
}

// The answer goes out: logged, counted, queued.
MHD_Result Finish(HttpFront& front, MHD_Connection* connection, const InFlight& exchange, const Response& response) {
  const Request& request = exchange.request;
  Log(front.responder().ClientOf(request), request, response);
  if (front.metrics())
    front.metrics()->Count(request.method, request.path, response.status, response.body, Clock::now() - exchange.headIn);
  return Send(connection, response, false);
}

MHD_Result OnRequest(void* context, MHD_Connection* connection, const char* url, const char* method,
                     const char* /*version*/, const char* upload, std::size_t* uploadSize, void** requestContext) {
  auto& front = *static_cast<HttpFront*>(context);
  auto* exchange = static_cast<InFlight*>(*requestContext);
  if (!exchange) {
    auto begun = BeginExchange(front, connection, url, method);
    exchange = begun.release();
    *requestContext = exchange;
    // Answered before any body is read: the rest of what the client sends is not taken in.
    if (exchange->headTooLarge) return Send(connection, {431, "Request Header Fields Too Large"}, true);
    if (exchange->bodyTooLarge) return Send(connection, {413, "Payload Too Large"}, true);
    return MHD_YES;
  }
  if (*uploadSize > 0) {
    const std::size_t room = kMaxBodyBytes + 1 - std::min(exchange->request.body.size(), kMaxBodyBytes + 1);
    exchange->request.body.append(upload, std::min(*uploadSize, room));
    *uploadSize = 0;
    return MHD_YES;
  }
  if (exchange->headTooLarge || exchange->bodyTooLarge) return MHD_YES;  // answered already
  if (HttpFront::Connection* state = StateOf(connection)) state->answered = true;
  const Request& request = exchange->request;
  if (exchange->ready) return Finish(front, connection, *exchange, *exchange->ready);
  if (!front.responder().UsesStore(request)) return Finish(front, connection, *exchange, front.responder().Answer(request));
  // An answer from the accounts: the connection waits, suspended, while a worker makes it (a quick
  // one, or, when a slow hash is needed, one of those that wait for it), then comes back here.
  MHD_suspend_connection(connection);
  const auto answer = [&front, connection, exchange] {
    exchange->ready = front.Closing() ? Response{503, "Service Unavailable"} : front.responder().Answer(exchange->request);
    MHD_resume_connection(connection);
  };
  const auto busy = [connection, exchange] {
    exchange->ready = Response{503, "Service Unavailable"};
    MHD_resume_connection(connection);
  };
  const bool taken = front.Defer(WorkLane::Quick, [&front, exchange, answer, busy] {
    if (front.Closing() || !front.responder().Slow(exchange->request)) return answer();
    if (!front.Defer(WorkLane::Slow, answer)) busy();
  });
  if (!taken) busy();
  return MHD_YES;
}

void OnCompleted(void* /*context*/, MHD_Connection* connection, void** requestContext,
                 MHD_RequestTerminationCode) {
  delete static_cast<InFlight*>(*requestContext);
  *requestContext = nullptr;
  // A kept connection waits for its next request: from now on that request's head is timed.
  if (HttpFront::Connection* state = StateOf(connection)) {
    state->since = Clock::now().time_since_epoch().count();
    state->headIn = false;
    state->answered = false;
  }
}

void OnConnection(void* context, MHD_Connection* connection, void** socketContext,
                  MHD_ConnectionNotificationCode code) {
  auto& front = *static_cast<HttpFront*>(context);
  if (code == MHD_CONNECTION_NOTIFY_STARTED) {
    auto* state = new HttpFront::Connection;
    const auto* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    state->fd = info ? info->connect_fd : -1;
    state->since = Clock::now().time_since_epoch().count();
    *socketContext = state;
    front.Opened(state);
  } else if (code == MHD_CONNECTION_NOTIFY_CLOSED) {
    auto* state = static_cast<HttpFront::Connection*>(*socketContext);
    front.Closed(state);  // before the socket is closed: the watcher never touches a reused number
    delete state;
    *socketContext = nullptr;
  }
}

// Whether the certificate and key are usable, tried on a daemon that listens nowhere.
bool CertificateUsable(const HttpFront::Tls& tls) {
  MHD_Daemon* trial = MHD_start_daemon(MHD_USE_TLS | MHD_USE_NO_LISTEN_SOCKET, 0, nullptr, nullptr, &OnRequest,
                                       nullptr, MHD_OPTION_HTTPS_MEM_CERT, tls.certificate.c_str(),
                                       MHD_OPTION_HTTPS_MEM_KEY, tls.key.c_str(), MHD_OPTION_END);
  if (!trial) return false;
  MHD_stop_daemon(trial);
  return true;
}

// The address to listen on, numeric or a name.
std::unique_ptr<addrinfo, void (*)(addrinfo*)> ResolveListen(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) found = nullptr;
  return {found, &::freeaddrinfo};
}

}  // namespace

HttpFront::HttpFront(const Responder& responder, FrontLimits limits, Metrics* metrics)
    : responder_(responder), limits_(limits), metrics_(metrics) {}

HttpFront::~HttpFront() { Stop(); }

MHD_Daemon* HttpFront::StartDaemon(unsigned flags, const void* address, int listenSocket, const Tls* tls) {
  const unsigned threads = std::max(2u, 2 * std::thread::hardware_concurrency());
  const auto number = [](auto value) { return static_cast<intptr_t>(value); };
  std::vector<MHD_OptionItem> options = {
      {MHD_OPTION_CONNECTION_TIMEOUT, number(limits_.idleSeconds), nullptr},
      {MHD_OPTION_PER_IP_CONNECTION_LIMIT, number(limits_.perAddress), nullptr},
      {MHD_OPTION_CONNECTION_LIMIT, number(limits_.maxConnections), nullptr},
      {MHD_OPTION_CONNECTION_MEMORY_LIMIT, number(2 * limits_.maxHeadBytes), nullptr},
      {MHD_OPTION_THREAD_POOL_SIZE, number(threads), nullptr},
      {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&OnCompleted), this},
      {MHD_OPTION_NOTIFY_CONNECTION, reinterpret_cast<intptr_t>(&OnConnection), this},
  };
  if (address) options.push_back({MHD_OPTION_SOCK_ADDR, 0, const_cast<void*>(address)});
  else options.push_back({MHD_OPTION_LISTEN_SOCKET, number(listenSocket), nullptr});
  if (tls) {
    flags |= MHD_USE_TLS;
    options.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char*>(tls->certificate.c_str())});
    options.push_back({MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char*>(tls->key.c_str())});
  }
  options.push_back({MHD_OPTION_END, 0, nullptr});
  return MHD_start_daemon(flags | MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_USE_ITC | MHD_ALLOW_SUSPEND_RESUME,
                          0, nullptr, nullptr,
                          &OnRequest, this, MHD_OPTION_ARRAY, options.data(), MHD_OPTION_END);
}

int HttpFront::Start(const std::string& host, int port, const Tls* tls) {
  const auto address = ResolveListen(host, port);
  const std::string where = host + ":" + std::to_string(port);
  if (!address) throw std::runtime_error("cannot listen on " + where + ": no such address");
  if (tls && !CertificateUsable(*tls)) throw std::runtime_error("the TLS certificate or key is unusable");
  // Answers from the accounts are made here, away from the connections: quick ones by a worker for
  // each core, slow ones (a hash) by a few more, as each mostly waits for the hash gate. A queue that
  // would make a client wait for minutes refuses instead.
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  quick_ = std::make_unique<WorkQueue>(cores, 10000);
  work_ = std::make_unique<WorkQueue>(2 * cores, 1000);
  // An IPv6 address takes IPv4 clients too (as mapped addresses, which ClientAddressOf makes plain):
  // a machine that checks over each family reaches both its records through one "[::]:port".
  daemon_ = StartDaemon(address->ai_family == AF_INET6 ? MHD_USE_DUAL_STACK : 0, address->ai_addr, -1, tls);
  if (!daemon_) throw std::runtime_error("cannot listen on " + where);
  watcher_ = std::thread([this] { Watch(); });
  const auto* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
  return info ? info->port : port;
}

void HttpFront::Reload(const Tls& tls) {
  if (!CertificateUsable(tls)) throw std::runtime_error("the new certificate or key is unusable; the old one serves on");
  // The new daemon accepts on a copy of the listening socket; only once it runs does the old one
  // stop accepting (its own copy is closed when it is stopped).
  const auto* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_LISTEN_FD);
  const int copy = info ? ::dup(info->listen_fd) : -1;
  if (copy < 0) throw std::runtime_error("the listening socket cannot be shared; the old certificate serves on");
  MHD_Daemon* renewed = StartDaemon(0, nullptr, copy, &tls);
  if (!renewed) {
    ::close(copy);
    throw std::runtime_error("the front cannot serve with the new certificate; the old one serves on");
  }
  const int old = MHD_quiesce_daemon(daemon_);
  if (old >= 0) ::close(old);
  const std::lock_guard lock(mutex_);
  retired_.push_back(daemon_);  // stopped by the watcher once its connections are gone
  daemon_ = renewed;
}

void HttpFront::Stop() {
  {
    const std::lock_guard lock(mutex_);
    stop_ = true;
  }
  stopping_.notify_all();
  if (watcher_.joinable()) watcher_.join();
  // Every suspended connection comes back (with 503 where its work had not begun) before the
  // daemons that own them stop; the queue itself lives on, refusing, while they still call it.
  closing_ = true;
  if (quick_) quick_->Close();  // its jobs, seeing the front closing, pass nothing on to the slow ones
  if (work_) work_->Close();
  for (MHD_Daemon* daemon : retired_) MHD_stop_daemon(daemon);
  retired_.clear();
  if (daemon_) MHD_stop_daemon(daemon_);
  daemon_ = nullptr;
  work_.reset();
  quick_.reset();
}

std::int64_t HttpFront::OpenConnections() {
  const std::lock_guard lock(mutex_);
  return static_cast<std::int64_t>(connections_.size());
}

void HttpFront::Opened(Connection* connection) {
  const std::lock_guard lock(mutex_);
  connections_.insert(connection);
}

void HttpFront::Closed(Connection* connection) {
  const std::lock_guard lock(mutex_);
  connections_.erase(connection);
}

// Once a second: a connection whose head has not come whole within its bound, or whose body has not
// come within its bound after the head, is cut (the front then closes it as a dropped one). A client
// that sends a byte now and then keeps its connection no longer than that.
void HttpFront::Watch() {
  std::unique_lock lock(mutex_);
  while (!stopping_.wait_for(lock, std::chrono::seconds(1), [this] { return stop_; })) {
    const Clock::time_point now = Clock::now();
    // A daemon replaced by a reload goes once nothing of it is left (no connection, so no suspended
    // one whose answer a worker still makes).
    std::erase_if(retired_, [](MHD_Daemon* daemon) {
      const auto* info = MHD_get_daemon_info(daemon, MHD_DAEMON_INFO_CURRENT_CONNECTIONS);
      if (!info || info->num_connections != 0) return false;
      MHD_stop_daemon(daemon);
      return true;
    });
    for (Connection* connection : connections_) {
      if (connection->answered) continue;
      const auto bound = connection->headIn ? limits_.body : limits_.head;
      if (now - Clock::time_point(Clock::duration(connection->since.load())) > bound)
        ::shutdown(connection->fd, SHUT_RDWR);
    }
  }
}

}  // namespace hw::service
