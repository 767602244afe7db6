#include "ddns/TlsStream.h"

#include <arpa/inet.h>
#include <poll.h>

#include <cerrno>

#include "common/AppError.h"
#include "ddns/TlsLibrary.h"
#include "platform/QuietBrokenPipe.h"
#include "platform/SocketErrors.h"

namespace hw {
namespace {

bool IsAddress(const std::string& host) {
  unsigned char address[16];
  return ::inet_pton(AF_INET, host.c_str(), address) == 1 || ::inet_pton(AF_INET6, host.c_str(), address) == 1;
}

bool Readable(int fd) {
  pollfd entry{fd, POLLIN, 0};
  return ::poll(&entry, 1, 0) > 0;
}

// The checks the handshake makes of the server's certificate besides its chain.
void ExpectHost(const TlsLibrary& tls, SSL* ssl, const std::string& host) {
  if (IsAddress(host)) {
    if (tls.setAddress(tls.parameters(ssl), host.c_str()) == 1) return;
  } else {
    tls.setHostFlags(ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    char* serverName = const_cast<char*>(host.c_str());  // only read
    if (tls.setHost(ssl, serverName) == 1 &&
        tls.sslControl(ssl, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name, serverName) == 1)
      return;
  }
  throw TransportError("TLS handshake failed: the host name " + host + " cannot be checked");
}

// What one call into the library returned, and the socket's error right after it.
struct Attempt {
  int result;
  int savedErrno;
};

// Each call starts with an empty error queue, so that what the queue holds after it is its own, and
// none may raise SIGPIPE: the library writes to the socket without MSG_NOSIGNAL.
template <typename Call>
Attempt Try(Call call) {
  const QuietBrokenPipe quiet;
  Tls().clearErrors();
  errno = 0;
  const int result = call();
  return {result, errno};
}

// The certificate's fault when its verification failed, else the first of OpenSSL's queue.
std::string FailureReason(SSL* ssl, int error) {
  const TlsLibrary& tls = Tls();
  if (ssl) {
    const long verified = tls.verifyResult(ssl);
    if (verified != X509_V_OK) return tls.verifyErrorText(verified);
  }
  if (const unsigned long queued = tls.nextError())
    if (const char* reason = tls.errorReason(queued)) return reason;
  if (error == SSL_ERROR_SYSCALL || error == SSL_ERROR_ZERO_RETURN) return "the server closed the connection";
  return "OpenSSL error " + std::to_string(error);
}

// The events a call waits for before it is made again, or its failure thrown: the socket's error
// text as over plain TCP, else `failure` and the reason.
short WaitOrThrow(SSL* ssl, const Attempt& attempt, const char* failure) {
  const int error = Tls().getError(ssl, attempt.result);
  if (error == SSL_ERROR_WANT_READ) return POLLIN;
  if (error == SSL_ERROR_WANT_WRITE) return POLLOUT;
  if (error == SSL_ERROR_SYSCALL && attempt.savedErrno != 0)
    throw TransportError(SocketErrorMessage(SocketErrorNumberOfErrno(attempt.savedErrno)));
  throw TransportError(failure + FailureReason(ssl, error));
}

}  // namespace

TlsStream::TlsStream(int fd, const std::string& host) : ssl_(nullptr), fd_(fd) {
  const TlsLibrary& tls = Tls();
  ssl_ = tls.sslNew(TlsClientContext());
  if (!ssl_) throw TransportError("TLS handshake failed: " + FailureReason(ssl_, SSL_ERROR_SSL));
  try {
    if (tls.setFd(ssl_, fd) != 1) throw TransportError("TLS handshake failed: " + FailureReason(ssl_, SSL_ERROR_SSL));
    ExpectHost(tls, ssl_, host);
  } catch (...) {
    tls.sslFree(ssl_);
    throw;
  }
}

TlsStream::~TlsStream() { Tls().sslFree(ssl_); }

short TlsStream::Handshake() {
  const Attempt attempt = Try([&] { return Tls().connect(ssl_); });
  return attempt.result == 1 ? 0 : WaitOrThrow(ssl_, attempt, "TLS handshake failed: ");
}

// A read may also write: TLS answers some of the server's records (a key update).
StreamStep TlsStream::Read(char* into, std::size_t size) {
  std::size_t read = 0;
  const Attempt attempt = Try([&] { return Tls().read(ssl_, into, size, &read); });
  if (attempt.result == 1) return {read, 0, false};
  if (Tls().getError(ssl_, attempt.result) == SSL_ERROR_ZERO_RETURN) return {0, 0, true};
  return {0, WaitOrThrow(ssl_, attempt, "TLS read failed: "), false};
}

StreamStep TlsStream::Write(const char* from, std::size_t size) {
  std::size_t written = 0;
  const Attempt attempt = Try([&] { return Tls().write(ssl_, from, size, &written); });
  if (attempt.result == 1) return {written, 0, false};
  return {0, WaitOrThrow(ssl_, attempt, "TLS write failed: "), false};
}

bool TlsStream::Pending() const { return Tls().pending(ssl_) > 0; }

// Anything else the server sent while idle (its close, an alert, stray data) ends the connection's
// use, as over plain TCP: the next exchange opens a new one. Its reason matters to nobody.
bool TlsStream::Idle() {
  char stray;
  std::size_t read = 0;
  while (!Pending() && Readable(fd_)) {
    const Attempt attempt = Try([&] { return Tls().read(ssl_, &stray, 1, &read); });
    if (attempt.result == 1 || Tls().getError(ssl_, attempt.result) != SSL_ERROR_WANT_READ) return false;
  }
  return !Pending();
}

}  // namespace hw
