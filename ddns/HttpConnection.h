#pragma once
#include <cstddef>
#include <functional>
#include <optional>
#include <string>

namespace hw {

// Dispatches pending window events while a request waits.
using Pump = std::function<void()>;

struct HttpLimits {
  int connectMs = 120000;  // "Connect timed out."
  int silenceMs = 120000;  // a reply silent this long fails with "Read Timeout"
  int errorBodyMs = 2000;  // the body of a failed reply is read this long at most
};

// One TCP connection to the service. Waiting for the connect and for reply data happens in short
// slices, after each of which the owner's pump runs, so the windows stay responsive. The pump and
// the limits belong to the owning client and must outlive the connection.
class HttpConnection {
 public:
  static constexpr int kConnectSliceMs = 125;
  static constexpr int kReadSliceMs = 250;
  static constexpr std::size_t kMaxLine = 16384;
  static constexpr std::size_t kReceiveBuffer = 32768;

  HttpConnection(const Pump& pump, const HttpLimits& limits);
  ~HttpConnection();
  HttpConnection(const HttpConnection&) = delete;
  HttpConnection& operator=(const HttpConnection&) = delete;

  // Looks the host up (nothing is pumped meanwhile) and connects to its first address.
  void Open(const std::string& host, int port);
  // Open, idle and untouched by the server since the last reply: a server that closed a kept
  // connection has left its end-of-stream behind, so this needs no traffic.
  bool Reusable() const;
  void Close();
  void Send(const std::string& bytes);

  // A line ended by LF, without its line end (a CR before the LF is dropped); nullopt when the
  // server closed the connection before the line was complete.
  std::optional<std::string> ReadLine();
  // Up to `count` bytes; fewer when the server closes first.
  std::string ReadUpTo(std::size_t count);
  std::string ReadToClose();
  bool PeerClosed() const { return peerClosed_; }
  // The silence bound for the reads that follow.
  void SetSilenceLimit(int ms) { silenceMs_ = ms; }

 private:
  bool Fill();  // false when the server has closed
  void WaitConnected();

  const Pump& pump_;
  const HttpLimits& limits_;
  int silenceMs_;
  int fd_ = -1;
  bool peerClosed_ = false;
  std::string buffer_;
};

}  // namespace hw
