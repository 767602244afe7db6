#pragma once
#include <sys/socket.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "common/AppError.h"
#include "ddns/TlsStream.h"

namespace hw {

// Dispatches pending window events while a request waits.
using Pump = std::function<void()>;

// Opens a TCP connection to host and port and returns its descriptor, or throws TransportError.
// The default looks the host up and connects with the bound and pump of the owning client; tests
// put a socket pair in its place to see the client's writes one by one.
using Connector = std::function<int(const std::string& host, int port)>;

// What one exchange may cost. The service's replies are a few dozen bytes; these bounds leave room
// for every endpoint many times over and stop a broken or hostile service from holding the client
// (its memory, or its handler) without end.
struct HttpLimits {
  int connectMs = 120000;               // "Connect timed out."; with TLS, the connect and the handshake
                                        // together, from the exchange's start: "TLS handshake timed out."
  int silenceMs = 120000;               // a reply silent this long fails with "Read Timeout"
  int errorBodyMs = 2000;               // the body of a failed reply is read this long at most
  int exchangeMs = 300000;              // one exchange, from its connect to the end of its reply: "Read Timeout"
  std::size_t headBytes = 64 * 1024;    // status line and header lines together
  std::size_t bodyBytes = 1024 * 1024;  // the body, however it is framed
  std::size_t cookies = 64;             // cookies one client keeps, over all hosts
  int interimReplies = 16;              // "100" replies before the real one
};

// The failure of a reply that goes past one of the bounds above, or frames its body with a size
// that is no size. Worded like the client's other failure texts.
inline constexpr const char* kReplyTooLarge = "Max reply size exceeded.";

// The server closed the connection before the exchange was whole: during the request, before the
// reply's status line, or before the end of a body that its length or its chunks announced. A cut
// body is never taken for the whole one (a registration's reply cut short would otherwise be taken
// as the service's word).
class ReplyCutShort : public TransportError {
 public:
  ReplyCutShort() : TransportError("Connection Closed Gracefully.") {}  // wording and capitals as users know it
};

// One TCP connection to the service, plain or secured by TLS. Waiting for the connect, the handshake
// and reply data happens in short slices; the owner's pump runs after each quiet slice and, while
// data keeps arriving, at least every 250 ms, so the windows stay responsive whatever the server
// does. The pump, the limits and the connector belong to the owning client and must outlive the
// connection.
class HttpConnection {
 public:
  static constexpr int kConnectSliceMs = 125;
  static constexpr int kReadSliceMs = 250;
  static constexpr std::size_t kMaxLine = 16384;
  static constexpr std::size_t kReceiveBuffer = 32768;

  HttpConnection(const Pump& pump, const HttpLimits& limits, const Connector& connector);
  ~HttpConnection();
  HttpConnection(const HttpConnection&) = delete;
  HttpConnection& operator=(const HttpConnection&) = delete;

  // Starts the clock of one exchange (its overall bound) and of the pump.
  void BeginExchange();
  // Looks the host up (nothing is pumped meanwhile) and connects to its first address of `family`
  // (AF_UNSPEC: of either family, the first the resolver gives).
  void Open(const std::string& host, int port, int family = AF_UNSPEC);
  // Open, idle and untouched by the server since the last reply: a server that closed a kept
  // connection has left its end-of-stream behind, so this needs no traffic. (Over TLS, records
  // without data that came meanwhile are read and leave it reusable.)
  bool Reusable();
  void Close();
  // Makes the open connection a TLS one for `host`, whose certificate it verifies (TlsStream).
  void StartTls(const std::string& host);
  bool Secured() const { return tls_ != nullptr; }
  void Send(const std::string& bytes);

  // A line ended by LF, without its line end (a CR before the LF is dropped); nullopt when the
  // server closed the connection before the line was complete.
  std::optional<std::string> ReadLine();
  // Exactly `count` bytes; ReplyCutShort when the server closes first.
  std::string ReadExactly(std::size_t count);
  // Everything up to the server's close; past `limit` bytes the reply fails as too large.
  std::string ReadToClose(std::size_t limit);
  bool PeerClosed() const { return peerClosed_; }
  const HttpLimits& Limits() const { return limits_; }
  // The silence bound for the reads that follow.
  void SetSilenceLimit(int ms) { silenceMs_ = ms; }

 private:
  bool Fill();          // false when the server has closed
  // Waits until the socket is ready for `events`, in slices that run the pump, within the exchange's
  // bounds ("Read Timeout"); false when the pump closed the connection meanwhile.
  bool WaitFor(short events);
  StreamStep Receive(char* into, std::size_t size);
  StreamStep SendSome(const char* from, std::size_t size);
  void WaitConnected();
  void WaitWhileOpening(short events, std::chrono::steady_clock::time_point since, const char* timedOut);
  void PumpIfDue();
  void CheckExchangeTime() const;
  bool Attend();

  const Pump& pump_;
  const HttpLimits& limits_;
  const Connector& connector_;
  std::chrono::steady_clock::time_point exchangeStart_;
  std::chrono::steady_clock::time_point lastPump_;
  int silenceMs_;
  int fd_ = -1;
  std::unique_ptr<TlsStream> tls_;
  short readWaitsFor_;  // what the next read waits for: its data, or (TLS) room to answer the server
  bool peerClosed_ = false;
  std::string buffer_;
};

}  // namespace hw
