#include "ddns/HttpConnection.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <memory>

#include "common/AppError.h"
#include "ddns/HostLookup.h"
#include "platform/SocketErrors.h"

namespace hw {
namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void ThrowSocketError(int errnoValue) {
  throw TransportError(SocketErrorMessage(SocketErrorNumberOfErrno(errnoValue)));
}

int ElapsedMs(Clock::time_point since) {
  return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

// Waits up to `ms` for the events; returns the events seen (0 on a quiet slice).
short PollOnce(int fd, short events, int ms) {
  pollfd entry{fd, events, 0};
  const int ready = ::poll(&entry, 1, ms);
  if (ready < 0 && errno != EINTR) ThrowSocketError(errno);
  return ready > 0 ? entry.revents : 0;
}

}  // namespace

HttpConnection::HttpConnection(const Pump& pump, const HttpLimits& limits, const Connector& connector)
    : pump_(pump),
      limits_(limits),
      connector_(connector),
      exchangeStart_(Clock::now()),
      lastPump_(exchangeStart_),
      silenceMs_(limits.silenceMs),
      readWaitsFor_(POLLIN) {}

HttpConnection::~HttpConnection() { Close(); }

void HttpConnection::BeginExchange() {
  exchangeStart_ = Clock::now();
  lastPump_ = exchangeStart_;
}

void HttpConnection::Open(const std::string& host, int port, int family) {
  Close();
  if (connector_) {
    fd_ = connector_(host, port);
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
    return;
  }
  const AddressList addresses = LookUpHost(host, port, family);
  const addrinfo* found = addresses.get();  // the first address returned is the one used
  fd_ = ::socket(found->ai_family, found->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, found->ai_protocol);
  if (fd_ < 0) ThrowSocketError(errno);
  // A post leaves in two writes (head, then body); without this the body would wait for the
  // acknowledgement of the head, tens of milliseconds on every exchange.
  const int noDelay = 1;
  ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
  if (::connect(fd_, found->ai_addr, found->ai_addrlen) != 0 && errno != EINPROGRESS) {
    const int error = errno;
    Close();
    ThrowSocketError(error);
  }
  WaitConnected();
  int error = 0;
  socklen_t length = sizeof error;
  ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length);
  if (error != 0) {
    Close();
    ThrowSocketError(error);
  }
}

void HttpConnection::WaitConnected() { WaitWhileOpening(POLLOUT, Clock::now(), "Connect timed out."); }

// A new connection is opened as its exchange begins, so the handshake's bound counts from there.
void HttpConnection::StartTls(const std::string& host) {
  tls_ = std::make_unique<TlsStream>(fd_, host);
  for (short waitFor; tls_ && (waitFor = tls_->Handshake()) != 0;)
    WaitWhileOpening(waitFor, exchangeStart_, "TLS handshake timed out.");
}

void HttpConnection::WaitWhileOpening(short events, Clock::time_point since, const char* timedOut) {
  while (PollOnce(fd_, events, kConnectSliceMs) == 0) {
    if (ElapsedMs(since) >= limits_.connectMs) {
      Close();
      throw TransportError(timedOut);
    }
    if (pump_) pump_();
  }
}

bool HttpConnection::Reusable() {
  if (fd_ < 0 || peerClosed_ || !buffer_.empty()) return false;
  if (tls_) return tls_->Idle();
  pollfd entry{fd_, POLLIN, 0};
  return ::poll(&entry, 1, 0) == 0;  // readable while idle: the server's close, a reset or stray bytes
}

void HttpConnection::Close() {
  tls_.reset();
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  readWaitsFor_ = POLLIN;
  peerClosed_ = false;
  buffer_.clear();
}

// A send that cannot go on (a full send buffer, a TLS write that needs a read first) waits as a read
// does: bounded by the exchange's limits, the windows served meanwhile.
void HttpConnection::Send(const std::string& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const StreamStep step = SendSome(bytes.data() + sent, bytes.size() - sent);
    sent += step.bytes;
    if (step.waitFor != 0 && (!WaitFor(step.waitFor) || !Attend())) throw ReplyCutShort();
  }
}

StreamStep HttpConnection::SendSome(const char* from, std::size_t size) {
  if (tls_) return tls_->Write(from, size);
  const ssize_t n = ::send(fd_, from, size, MSG_NOSIGNAL);
  if (n >= 0) return {static_cast<std::size_t>(n), 0, false};
  if (errno == EAGAIN || errno == EWOULDBLOCK) return {0, POLLOUT, false};
  if (errno != EINTR) ThrowSocketError(errno);
  return {};
}

void HttpConnection::CheckExchangeTime() const {
  if (ElapsedMs(exchangeStart_) >= limits_.exchangeMs) throw TransportError("Read Timeout");
}

// A server that trickles its reply would otherwise never leave a quiet slice, and the windows would
// freeze for as long as it likes.
void HttpConnection::PumpIfDue() {
  if (!pump_ || ElapsedMs(lastPump_) < kReadSliceMs) return;
  lastPump_ = Clock::now();
  pump_();
}

// After a wait that found the socket ready: a server that trickles (or takes a little at a time)
// leaves no quiet slice, so the exchange's bound and the pump are seen to here too. False when the
// pump closed the connection.
bool HttpConnection::Attend() {
  CheckExchangeTime();
  PumpIfDue();
  return fd_ >= 0;
}

bool HttpConnection::Fill() {
  if (peerClosed_ || fd_ < 0) return false;
  // Bytes that TLS decrypted with an earlier record are no longer on the socket for a poll to see.
  const bool held = tls_ && tls_->Pending();
  if ((!held && !WaitFor(readWaitsFor_)) || !Attend()) return false;
  char chunk[kReceiveBuffer];
  const StreamStep step = Receive(chunk, sizeof chunk);
  readWaitsFor_ = step.waitFor != 0 ? step.waitFor : POLLIN;
  if (step.ended) {
    peerClosed_ = true;
    return false;
  }
  buffer_.append(chunk, step.bytes);
  return true;
}

bool HttpConnection::WaitFor(short events) {
  const auto started = Clock::now();
  while (PollOnce(fd_, events, kReadSliceMs) == 0) {
    CheckExchangeTime();
    if (ElapsedMs(started) >= silenceMs_) throw TransportError("Read Timeout");
    lastPump_ = Clock::now();
    if (pump_) pump_();
    if (fd_ < 0) return false;
  }
  return true;
}

StreamStep HttpConnection::Receive(char* into, std::size_t size) {
  if (tls_) return tls_->Read(into, size);
  const ssize_t n = ::recv(fd_, into, size, 0);
  if (n > 0) return {static_cast<std::size_t>(n), 0, false};
  if (n == 0) return {0, 0, true};
  if (errno != EAGAIN && errno != EINTR) ThrowSocketError(errno);
  return {0, POLLIN, false};
}

// The longest accepted line holds kMaxLine bytes, not counting its line end (LF or CR LF).
std::optional<std::string> HttpConnection::ReadLine() {
  std::size_t end;
  while ((end = buffer_.find('\n')) == std::string::npos) {
    if (buffer_.size() > kMaxLine + 1) throw TransportError("Max line length exceeded.");  // + its CR
    if (!Fill()) return std::nullopt;
  }
  const std::size_t length = end > 0 && buffer_[end - 1] == '\r' ? end - 1 : end;
  if (length > kMaxLine) throw TransportError("Max line length exceeded.");
  std::string line = buffer_.substr(0, length);
  buffer_.erase(0, end + 1);
  return line;
}

std::string HttpConnection::ReadExactly(std::size_t count) {
  while (buffer_.size() < count)
    if (!Fill()) throw ReplyCutShort();
  std::string bytes = buffer_.substr(0, count);
  buffer_.erase(0, bytes.size());
  return bytes;
}

std::string HttpConnection::ReadToClose(std::size_t limit) {
  do {
    if (buffer_.size() > limit) throw TransportError(kReplyTooLarge);
  } while (Fill());
  std::string bytes;
  bytes.swap(buffer_);
  return bytes;
}

}  // namespace hw
