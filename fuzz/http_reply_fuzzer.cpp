// The HTTP reply as the client reads it: status line, head, framing and body, through the client's
// own reading code, fed by the other end of a socket pair.
#include <sys/socket.h>
#include <unistd.h>

#include "common/AppError.h"
#include "ddns/HttpClient.h"
#include "fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return 0;
  const std::string_view reply = AsText(data, size);
  // The whole reply waits in the socket, then the "server" is done: no thread, no timing.
  int buffer = static_cast<int>(size) + 4096;
  ::setsockopt(ends[1], SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
  if (::send(ends[1], reply.data(), reply.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(reply.size())) {
    ::close(ends[0]);
    ::close(ends[1]);
    return 0;
  }
  ::shutdown(ends[1], SHUT_WR);
  hw::HttpClient client;
  hw::HttpLimits limits;
  limits.silenceMs = 1000;
  client.SetLimits(limits);
  client.SetConnector([&](const std::string&, int) { return ends[0]; });
  try {
    client.Get("http://service.test:17861/now.php");
  } catch (const hw::TransportError&) {
  }
  ::close(ends[1]);  // the client closed its end with its connection
  return 0;
}
