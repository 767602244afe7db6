#include "service/HttpFront.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netdb.h>
#include <strings.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
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
  MHD_Daemon* daemon = nullptr;
  std::string shareKey;  // what it counts under in the connection shares
  std::atomic<Clock::rep> since{0};     // the request's start, or its head's end once the head is in
  std::atomic<bool> headIn{false};
  std::atomic<bool> answered{false};    // the body is in: what remains is the service's to do
  std::atomic<Clock::rep> downloadSince{0};  // a build being sent: since when (0: none)
  std::atomic<std::uint64_t> downloaded{0};  // and how much of it the client has taken
};

namespace {

// One request in the making: its head as read, its body as it comes.
struct InFlight {
  Request request;
  Clock::time_point headIn = Clock::now();
  std::optional<Response> ready;   // a slow answer, made away from the connection
  std::optional<Response> early;   // an answer given before the body, which is then not read
  std::string proxiedKey;          // the forwarded client's share this request holds, if any
};

// What the head says of its size and of how its body is framed.
struct HeadFacts {
  std::size_t bytes = 0;
  std::size_t lines = 0;
  std::vector<std::string> lengths;  // every Content-Length value
  std::size_t encodings = 0;         // Transfer-Encoding lines
  bool chunkedOnly = true;           // and each says exactly "chunked"
};

MHD_Result ReadHeadFacts(void* context, MHD_ValueKind, const char* key, const char* value) {
  auto& facts = *static_cast<HeadFacts*>(context);
  facts.bytes += std::strlen(key) + (value ? std::strlen(value) : 0) + 4;  // "key: value\r\n"
  ++facts.lines;
  if (::strcasecmp(key, MHD_HTTP_HEADER_CONTENT_LENGTH) == 0) facts.lengths.emplace_back(value ? value : "");
  if (::strcasecmp(key, MHD_HTTP_HEADER_TRANSFER_ENCODING) == 0) {
    ++facts.encodings;
    facts.chunkedOnly = facts.chunkedOnly && value && ::strcasecmp(value, "chunked") == 0;
  }
  return MHD_YES;
}

// A body whose end the service and a proxy in front of it could see in different places (both
// framings, two lengths, a coding other than chunked): the way requests are smuggled past a proxy.
bool AmbiguousFraming(const HeadFacts& facts) {
  if (facts.encodings > 0) return facts.encodings > 1 || !facts.chunkedOnly || !facts.lengths.empty();
  return std::adjacent_find(facts.lengths.begin(), facts.lengths.end(), std::not_equal_to<>()) != facts.lengths.end();
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

std::string AddressText(const sockaddr* address) {
  char text[INET6_ADDRSTRLEN] = {};
  if (!address) return {};
  if (address->sa_family == AF_INET)
    ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
  else if (address->sa_family == AF_INET6)
    ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text, sizeof text);
  return text;
}

std::string PeerOf(MHD_Connection* connection) {
  const auto* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
  return info ? AddressText(info->client_addr) : std::string();
}

HttpFront::Connection* StateOf(MHD_Connection* connection) {
  const auto* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
  return info ? static_cast<HttpFront::Connection*>(info->socket_context) : nullptr;
}

MHD_Daemon* DaemonOf(MHD_Connection* connection) {
  const auto* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_DAEMON);
  return info ? info->daemon : nullptr;
}

// A build on its way to one client: read from the file block by block as the client takes it.
struct Download {
  HttpFront* front;
  std::shared_ptr<const ReplyFile> file;
  HttpFront::Connection* connection;
  std::string shareKey;
};

ssize_t ReadDownload(void* context, std::uint64_t position, char* buffer, std::size_t room) {
  auto& download = *static_cast<Download*>(context);
  download.connection->downloaded = position;
  if (position >= download.file->size) return MHD_CONTENT_READER_END_OF_STREAM;
  const ssize_t read = ::pread(download.file->fd, buffer, room, static_cast<off_t>(position));
  return read > 0 ? read : MHD_CONTENT_READER_END_WITH_ERROR;  // a file cut meanwhile ends the reply
}

void EndDownload(void* context) {
  auto* download = static_cast<Download*>(context);
  download->front->downloadShares().Give(download->shareKey);
  delete download;
}

// The reply for a file, counted for the client `shareKey`; nothing (and a 503 instead) when too many
// are being sent already.
MHD_Response* DownloadReply(HttpFront& front, MHD_Connection* connection, const Response& response,
                            const std::string& shareKey) {
  HttpFront::Connection* state = StateOf(connection);
  if (!state || !front.downloadShares().Take(shareKey)) return nullptr;
  auto* download = new Download{&front, response.file, state, shareKey};
  constexpr std::size_t kBlockBytes = 32 * 1024;
  MHD_Response* reply =
      MHD_create_response_from_callback(response.file->size, kBlockBytes, &ReadDownload, download, &EndDownload);
  if (!reply) {
    EndDownload(download);
    return nullptr;
  }
  state->downloaded = 0;
  state->downloadSince = Clock::now().time_since_epoch().count();
  return reply;
}

// `client`: the key the forwarded client counts under behind the trusted proxy; empty: the connection's.
MHD_Result Send(HttpFront& front, MHD_Connection* connection, const Response& response, bool close,
                const std::string& client = {}) {
  const HttpFront::Connection* state = StateOf(connection);
  const std::string shareKey = !client.empty() || !state ? client : state->shareKey;
  MHD_Response* reply = response.file ? DownloadReply(front, connection, response, shareKey) : nullptr;
  if (response.file && !reply) return Send(front, connection, {503, "Too many downloads at once"}, true);
  if (!reply)
    reply = MHD_create_response_from_buffer(response.body.size(), const_cast<char*>(response.body.data()),
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
  const std::uint64_t size = response.file ? response.file->size : response.body.size();
  std::fprintf(stderr, "hostwarden-service: %s %s %s %d %s\n", LogSafe(client).c_str(),
               LogSafe(request.method).c_str(), LogSafe(request.path).c_str(), response.status,
               request.method == "POST" ? LogSafe(marker).c_str() : std::to_string(size).c_str());
}

// The answer given at once to a head that the front will not serve: too large, framed two ways,
// too much of its client's share; nothing for a head that may go on.
std::optional<Response> RefusedHead(HttpFront& front, MHD_Connection* connection, InFlight& exchange,
                                    const HeadFacts& facts) {
  const FrontLimits& limits = front.limits();
  if (facts.bytes > limits.maxHeadBytes || facts.lines > limits.maxHeadLines)
    return Response{431, "Request Header Fields Too Large"};
  if (AmbiguousFraming(facts)) return Response{400, "Bad Request"};
  const char* length = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
  if (length && std::strtoull(length, nullptr, 10) > kMaxBodyBytes) return Response{413, "Payload Too Large"};
  const Request& request = exchange.request;
  if (front.IsTrustedProxy(PlainAddress(request.peer))) {
    const std::string client = ClientAddressOf(request.peer, request.forwardedFor, front.limits().trustedProxy);
    if (!client.empty()) {
      if (!front.proxiedShares().Take(ShareKeyOf(client))) return Response{429, "Too Many Requests"};
      exchange.proxiedKey = ShareKeyOf(client);
    }
  }
  return std::nullopt;
}

// A call into the responder for a request. A failure of its own (the database gone for a moment, a
// full memory) is `onFailure` and a line in the log, never the end of the service: the workers and the
// front's threads catch nothing else.
template <typename Result, typename Call>
Result Guarded(const Request& request, Result onFailure, Call call) {
  try {
    return call();
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "hostwarden-service: %s %s: %s\n", LogSafe(request.method).c_str(),
                 LogSafe(request.path).c_str(), LogSafe(failure.what()).c_str());
    return onFailure;
  }
}

Response AnswerOf(const Responder& responder, const Request& request) {
  return Guarded<Response>(request, {503, "Service Unavailable"}, [&] { return responder.Answer(request); });
}

// An answer from memory, on the front's own thread; when that fails, the way through the accounts.
std::optional<Response> AnswerAtOnceOf(const Responder& responder, const Request& request) {
  return Guarded<std::optional<Response>>(request, std::nullopt, [&] { return responder.AnswerAtOnce(request); });
}

// Whether answering may take a slow hash; when even that cannot be told, it is taken to.
bool SlowToAnswer(const Responder& responder, const Request& request) {
  try {
    return responder.Slow(request);
  } catch (const std::exception&) {
    return true;
  }
}

// The head is in: checked against its bounds and read into the request.
std::unique_ptr<InFlight> BeginExchange(HttpFront& front, MHD_Connection* connection, const char* url,
                                        const char* method) {
  auto exchange = std::make_unique<InFlight>();
  Request& request = exchange->request;
  request.method = method;
  request.path = url;
  request.peer = PeerOf(connection);
  MHD_get_connection_values(connection, MHD_HEADER_KIND, &TakeHeader, &request);
  MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, &TakeArgument, &request);
  HeadFacts facts;
  MHD_get_connection_values(connection, MHD_HEADER_KIND, &ReadHeadFacts, &facts);
  facts.bytes += std::strlen(url) + std::strlen(method) + 12;  // the request line
  exchange->early = RefusedHead(front, connection, *exchange, facts);
  if (HttpFront::Connection* state = StateOf(connection)) {
    state->since = Clock::now().time_since_epoch().count();
    state->headIn = true;
  }
  return exchange;
}

// The answer goes out: logged, counted, queued. A request the service could not read (400) ends its
// connection: whatever the client sent after it is not taken as a request of its own.
MHD_Result Finish(HttpFront& front, MHD_Connection* connection, const InFlight& exchange, const Response& response) {
  const Request& request = exchange.request;
  Log(front.responder().ClientOf(request), request, response);
  if (front.metrics())
    front.metrics()->Count(request.method, request.path, response.status, response.body, Clock::now() - exchange.headIn);
  return Send(front, connection, response, response.status == 400, exchange.proxiedKey);
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
    if (exchange->early) {
      Log(front.responder().ClientOf(exchange->request), exchange->request, *exchange->early);
      return Send(front, connection, *exchange->early, true);
    }
    return MHD_YES;
  }
  if (*uploadSize > 0) {
    const std::size_t room = kMaxBodyBytes + 1 - std::min(exchange->request.body.size(), kMaxBodyBytes + 1);
    exchange->request.body.append(upload, std::min(*uploadSize, room));
    *uploadSize = 0;
    return MHD_YES;
  }
  if (exchange->early) return MHD_YES;  // answered already
  if (HttpFront::Connection* state = StateOf(connection)) state->answered = true;
  const Request& request = exchange->request;
  if (exchange->ready) return Finish(front, connection, *exchange, *exchange->ready);
  if (!front.responder().UsesStore(request)) return Finish(front, connection, *exchange, AnswerOf(front.responder(), request));
  if (auto atOnce = AnswerAtOnceOf(front.responder(), request)) return Finish(front, connection, *exchange, *atOnce);
  // An answer from the accounts: the connection waits, suspended, while a worker makes it (a quick
  // one, or, when a slow hash is needed, one of those that wait for it), then comes back here.
  MHD_Daemon* daemon = DaemonOf(connection);
  if (!front.Suspending(daemon)) return Finish(front, connection, *exchange, {503, "Service Unavailable"});
  MHD_suspend_connection(connection);
  const auto resume = [&front, connection, exchange, daemon](Response response) {
    exchange->ready = std::move(response);
    MHD_resume_connection(connection);
    front.Resumed(daemon);  // only now may a retired daemon be stopped
  };
  const auto answer = [&front, exchange, resume] {
    resume(front.Closing() ? Response{503, "Service Unavailable"} : AnswerOf(front.responder(), exchange->request));
  };
  const auto busy = [resume] { resume(Response{503, "Service Unavailable"}); };
  const bool taken = front.Defer(WorkLane::Quick, [&front, exchange, answer, busy] {
    if (front.Closing() || !SlowToAnswer(front.responder(), exchange->request)) return answer();
    if (!front.Defer(WorkLane::Slow, answer)) busy();
  });
  if (!taken) busy();
  return MHD_YES;
}

void OnCompleted(void* context, MHD_Connection* connection, void** requestContext, MHD_RequestTerminationCode code) {
  auto& front = *static_cast<HttpFront*>(context);
  auto* exchange = static_cast<InFlight*>(*requestContext);
  if (exchange && !exchange->proxiedKey.empty()) front.proxiedShares().Give(exchange->proxiedKey);
  delete exchange;
  *requestContext = nullptr;
  HttpFront::Connection* state = StateOf(connection);
  // A download cut (too slow, idle, the service stopping) ends with a reset: closed in order, the
  // megabytes its socket holds would still trickle out to the client that was cut.
  if (state && state->downloadSince != 0 && code != MHD_REQUEST_TERMINATED_COMPLETED_OK) {
    const linger reset{1, 0};
    ::setsockopt(state->fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  }
  // A kept connection waits for its next request: from now on that request's head is timed.
  if (state) {
    state->since = Clock::now().time_since_epoch().count();
    state->headIn = false;
    state->answered = false;
    state->downloadSince = 0;
  }
}

// The key an address counts under in the connection shares; the trusted proxy counts under none of
// its own (the empty key), as it speaks for many clients.
std::string ConnectionKeyOf(const HttpFront& front, const sockaddr* address) {
  const std::string plain = PlainAddress(AddressText(address));
  return front.IsTrustedProxy(plain) ? std::string() : ShareKeyOf(plain);
}

// Whether a new connection from the address fits its client's share and the front's total.
MHD_Result OnAccept(void* context, const sockaddr* address, socklen_t) {
  auto& front = *static_cast<HttpFront*>(context);
  const std::string key = ConnectionKeyOf(front, address);
  if (key.empty()) return front.connectionShares().Total() < front.limits().maxConnections ? MHD_YES : MHD_NO;
  return front.connectionShares().Admits(key) ? MHD_YES : MHD_NO;
}

void OnConnection(void* context, MHD_Connection* connection, void** socketContext,
                  MHD_ConnectionNotificationCode code) {
  auto& front = *static_cast<HttpFront*>(context);
  if (code == MHD_CONNECTION_NOTIFY_STARTED) {
    auto* state = new HttpFront::Connection;
    const auto* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    state->fd = info ? info->connect_fd : -1;
    const auto* address = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    state->shareKey = ConnectionKeyOf(front, address ? address->client_addr : nullptr);
    state->daemon = DaemonOf(connection);
    state->since = Clock::now().time_since_epoch().count();
    *socketContext = state;
    front.connectionShares().Add(state->shareKey);  // admitted a moment ago by OnAccept
    front.Opened(state);
  } else if (code == MHD_CONNECTION_NOTIFY_CLOSED) {
    auto* state = static_cast<HttpFront::Connection*>(*socketContext);
    front.Closed(state);  // before the socket is closed: the watcher never touches a reused number
    front.connectionShares().Give(state->shareKey);
    delete state;
    *socketContext = nullptr;
  }
}

// TLS 1.2 and 1.3 only: the earlier versions have known weaknesses and every client of this decade
// speaks 1.2.
constexpr const char* kTlsPriorities = "NORMAL:-VERS-ALL:+VERS-TLS1.3:+VERS-TLS1.2";

// Whether the certificate and key are usable, tried on a daemon that listens nowhere.
bool CertificateUsable(const HttpFront::Tls& tls) {
  MHD_Daemon* trial = MHD_start_daemon(MHD_USE_TLS | MHD_USE_NO_LISTEN_SOCKET, 0, nullptr, nullptr, &OnRequest,
                                       nullptr, MHD_OPTION_HTTPS_MEM_CERT, tls.certificate.c_str(),
                                       MHD_OPTION_HTTPS_MEM_KEY, tls.key.c_str(), MHD_OPTION_HTTPS_PRIORITIES,
                                       kTlsPriorities, MHD_OPTION_END);
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
    : responder_(responder),
      limits_(std::move(limits)),
      metrics_(metrics),
      connectionShares_(limits_.perAddress, limits_.maxConnections),
      proxiedShares_(limits_.perAddress, limits_.maxConnections),
      downloadShares_(limits_.downloadsPerAddress, limits_.maxDownloads),
      trustedProxy_(limits_.trustedProxy.empty() ? std::string() : PlainAddress(limits_.trustedProxy)) {}

bool HttpFront::IsTrustedProxy(const std::string& plainAddress) const {
  return !trustedProxy_.empty() && plainAddress == trustedProxy_;
}

bool HttpFront::Suspending(MHD_Daemon* daemon) {
  const std::lock_guard lock(mutex_);
  if (ending_.contains(daemon)) return false;
  ++suspended_[daemon];
  return true;
}

void HttpFront::Resumed(MHD_Daemon* daemon) {
  const std::lock_guard lock(mutex_);
  if (--suspended_[daemon] == 0) suspended_.erase(daemon);
}

HttpFront::~HttpFront() { Stop(); }

MHD_Daemon* HttpFront::StartDaemon(unsigned flags, const void* address, int listenSocket, const Tls* tls) {
  const unsigned threads = std::max(2u, 2 * std::thread::hardware_concurrency());
  const auto number = [](auto value) { return static_cast<intptr_t>(value); };
  std::vector<MHD_OptionItem> options = {
      {MHD_OPTION_CONNECTION_TIMEOUT, number(limits_.idleSeconds), nullptr},
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
    options.push_back({MHD_OPTION_HTTPS_PRIORITIES, 0, const_cast<char*>(kTlsPriorities)});
  }
  options.push_back({MHD_OPTION_END, 0, nullptr});
  return MHD_start_daemon(flags | MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_USE_ITC | MHD_ALLOW_SUSPEND_RESUME,
                          0, &OnAccept, this,
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
  retired_.push_back({daemon_, std::chrono::steady_clock::now() + limits_.drain});  // see StopRetired
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
  for (const Retired& retired : retired_) MHD_stop_daemon(retired.daemon);
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

// A daemon replaced by a reload goes once nothing of it is left, or at its drain deadline, so that
// kept-alive clients cannot hold it (and its threads) for ever; either way only once no connection
// of it is suspended, as a worker still makes that one's answer.
// They are stopped with the lock let go: stopping closes their connections, whose notices take it.
void HttpFront::StopRetired(std::unique_lock<std::mutex>& lock, Clock::time_point now) {
  std::vector<MHD_Daemon*> ending;
  std::erase_if(retired_, [&](const Retired& retired) {
    if (suspended_.contains(retired.daemon)) return false;
    const auto* info = MHD_get_daemon_info(retired.daemon, MHD_DAEMON_INFO_CURRENT_CONNECTIONS);
    if (now < retired.deadline && (!info || info->num_connections != 0)) return false;
    ending.push_back(retired.daemon);
    ending_.insert(retired.daemon);  // from now on none of its connections is suspended
    return true;
  });
  if (ending.empty()) return;
  lock.unlock();
  for (MHD_Daemon* daemon : ending) MHD_stop_daemon(daemon);
  lock.lock();
  for (MHD_Daemon* daemon : ending) ending_.erase(daemon);
}

// Whether a download's client has taken less than the minimum rate since it began, once the grace
// has passed. What the socket still holds unsent or unacknowledged does not count as taken.
bool HttpFront::DownloadTooSlow(const Connection& connection, Clock::time_point now) const {
  const auto took = now - Clock::time_point(Clock::duration(connection.downloadSince.load()));
  if (took <= limits_.downloadGrace) return false;
  int queued = 0;
  if (::ioctl(connection.fd, SIOCOUTQ, &queued) != 0) queued = 0;
  const std::uint64_t written = connection.downloaded;
  const std::uint64_t taken = written - std::min<std::uint64_t>(written, static_cast<std::uint64_t>(std::max(queued, 0)));
  return static_cast<double>(taken) < std::chrono::duration<double>(took).count() * static_cast<double>(limits_.minDownloadRate);
}

// Once a second: a connection whose head has not come whole within its bound, or whose body has not
// come within its bound after the head, is cut (the front then closes it as a dropped one); so is a
// download whose client takes less than the minimum rate. A client that sends a byte now and then
// keeps its connection no longer than that.
void HttpFront::Watch() {
  std::unique_lock lock(mutex_);
  while (!stopping_.wait_for(lock, std::chrono::seconds(1), [this] { return stop_; })) {
    const Clock::time_point now = Clock::now();
    StopRetired(lock, now);
    for (Connection* connection : connections_) {
      if (connection->answered) {
        if (connection->downloadSince != 0 && DownloadTooSlow(*connection, now)) ::shutdown(connection->fd, SHUT_RDWR);
        continue;
      }
      const auto bound = connection->headIn ? limits_.body : limits_.head;
      if (now - Clock::time_point(Clock::duration(connection->since.load())) > bound)
        ::shutdown(connection->fd, SHUT_RDWR);
    }
  }
}

}  // namespace hw::service
