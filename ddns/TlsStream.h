#pragma once
#include <cstddef>
#include <string>

struct ssl_st;

namespace hw {

// What one read or write step came to: the bytes it moved or, when none, the poll events to wait for
// before the next try. A read also sees the end of the server's stream.
struct StreamStep {
  std::size_t bytes = 0;
  short waitFor = 0;
  bool ended = false;
};

// A TLS client session over a connected, non-blocking socket. Each call does what it can at once and
// says what it waits for; the waiting (its slices, its bounds, the pump) is the caller's. Failures
// throw TransportError: "TLS handshake failed: " with the reason (the certificate's, when its
// verification failed), "TLS read failed: ", "TLS write failed: ", or the socket's error text as over
// plain TCP.
class TlsStream {
 public:
  // For `host`: a name is sent as the server name and must be one the certificate names; a literal
  // address must be one of the certificate's addresses. The socket stays the caller's.
  TlsStream(int fd, const std::string& host);
  ~TlsStream();
  TlsStream(const TlsStream&) = delete;
  TlsStream& operator=(const TlsStream&) = delete;

  // 0 once the handshake is done and the server's certificate holds, else the events to wait for.
  short Handshake();
  StreamStep Read(char* into, std::size_t size);
  StreamStep Write(const char* from, std::size_t size);
  // Reply bytes already decrypted and held back, which no poll of the socket shows.
  bool Pending() const;
  // Since the last reply the server sent nothing but records that carry no data (session tickets),
  // so the connection can carry another exchange.
  bool Idle();

 private:
  ssl_st* ssl_;
  int fd_;
};

}  // namespace hw
