// The service's HTTP front facing clients that are slow, idle, oversized or many: each is held to
// its bounds, and a good check is still answered.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ddns/Envelope.h"
#include "ddns/HttpClient.h"
#include "fixtures/RunningService.h"
#include "fixtures/TestCertificates.h"

namespace {

using namespace std::chrono_literals;
using hwtest::RunningService;

constexpr const char* kMachine = "0011223344AA";

// A raw connection to the service from a loopback address of the test's choosing (all of 127/8 is
// this machine's), to send exactly what a client of any kind would.
class RawConnection {
 public:
  RawConnection(int port, const std::string& from) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, from.c_str(), &local.sin_addr);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local);
    sockaddr_in service{};
    service.sin_family = AF_INET;
    service.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    service.sin_port = htons(static_cast<uint16_t>(port));
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&service), sizeof service) == 0;
  }
  ~RawConnection() { ::close(fd_); }
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;

  bool connected() const { return connected_; }
  bool Send(const std::string& bytes) { return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) >= 0; }
  // All that came until the service closed the connection; nothing when it is still open at `limit`.
  std::optional<std::string> ReadUntilClosed(std::chrono::milliseconds limit) {
    std::string received;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd ready{fd_, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) <= 0) return std::nullopt;
      char buffer[4096];
      const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
      if (n <= 0) return received;  // closed (or reset) by the service
      received.append(buffer, static_cast<std::size_t>(n));
    }
  }

 private:
  int fd_;
  bool connected_ = false;
};

std::string Post(const RunningService& service, const char* path, const std::string& name) {
  hw::HttpClient client;
  try {
    return client.Post(service.url(path), hw::BuildEnvelope(name, "secret1", kMachine)).substr(0, 2);
  } catch (const hw::TransportError& error) {
    return error.Message();
  }
}

class ServiceFront : public ::testing::Test {
 protected:
  hwtest::TempDir data;
  RunningService service{"sqlite:" + data.File("dns.db"), {"--max-per-address", "50"}};
};

// A thousand connections from twenty addresses, half of them silent and half with half a request,
// hold no thread: a registration and a check go through beside them.
TEST_F(ServiceFront, AThousandIdleAndHalfSentConnectionsLeaveTheChecksAnswered) {
  std::vector<std::unique_ptr<RawConnection>> held;
  for (int i = 0; i < 1000; ++i) {
    held.push_back(std::make_unique<RawConnection>(service.port(), "127.0.1." + std::to_string(1 + i / 50)));
    ASSERT_TRUE(held.back()->connected()) << i;
    if (i % 2) held.back()->Send("POST /fo.php HTTP/1.1\r\nHost: x\r\nConten");
  }
  EXPECT_EQ(Post(service, "/sj.php", "dave"), "##");
  EXPECT_EQ(Post(service, "/fo.php", "dave"), "##");
}

// A head beyond 8 KiB or 64 lines is answered 431 at once, and the connection closes.
TEST_F(ServiceFront, OversizedHeadsAreRefusedAndTheConnectionCloses) {
  std::string manyLines;
  for (int line = 0; line < 65; ++line) manyLines += "X-Line-" + std::to_string(line) + ": 1\r\n";
  const std::pair<const char*, std::string> cases[] = {
      {"a header of 9000 bytes", "X-Big: " + std::string(9000, 'b') + "\r\n"},
      {"65 header lines", manyLines},
  };
  for (const auto& [what, headers] : cases) {
    RawConnection connection(service.port(), "127.0.2.1");
    connection.Send("GET /now.php HTTP/1.1\r\nHost: x\r\n" + headers + "\r\n");
    const auto reply = connection.ReadUntilClosed(30s);
    ASSERT_TRUE(reply.has_value()) << what << ": the connection must close";
    EXPECT_TRUE(reply->starts_with("HTTP/1.1 431 ")) << what << ": " << reply->substr(0, 40);
  }
  RawConnection fine(service.port(), "127.0.2.1");
  fine.Send("GET /now.php HTTP/1.1\r\nHost: x\r\nX-Fine: " + std::string(4000, 'f') + "\r\nConnection: close\r\n\r\n");
  const auto reply = fine.ReadUntilClosed(30s);
  ASSERT_TRUE(reply.has_value());
  EXPECT_TRUE(reply->starts_with("HTTP/1.1 200 ")) << reply->substr(0, 40);
}

// One address holds at most its share of connections; the next is closed at once, while another
// address is served.
TEST_F(ServiceFront, OneAddressHoldsAtMostItsShare) {
  std::vector<std::unique_ptr<RawConnection>> held;
  for (int i = 0; i < 50; ++i) held.push_back(std::make_unique<RawConnection>(service.port(), "127.0.3.1"));
  // The service takes in what is pending before it turns the next one away: a round trip on the
  // last connection shows that all of them are in.
  held.back()->Send("GET /now.php HTTP/1.1\r\nHost: x\r\n\r\n");
  RawConnection extra(service.port(), "127.0.3.1");
  EXPECT_EQ(extra.ReadUntilClosed(30s), std::optional<std::string>("")) << "the 51st is closed unanswered";
  RawConnection other(service.port(), "127.0.3.2");
  other.Send("GET /now.php HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  const auto reply = other.ReadUntilClosed(30s);
  ASSERT_TRUE(reply.has_value());
  EXPECT_TRUE(reply->starts_with("HTTP/1.1 200 "));
}

// A head that trickles in, a byte a second, never completes and never goes silent: it is cut once
// its bound has passed, while it is still being sent.
TEST_F(ServiceFront, ATricklingHeadIsCutAtItsBound) {
  RawConnection slow(service.port(), "127.0.4.1");
  const std::string head = "GET /now.php HTTP/1.1\r\nX-Slow: " + std::string(100, 's');
  std::optional<std::string> closed;
  for (std::size_t sent = 0; sent < head.size() && !closed; ++sent) {
    slow.Send(head.substr(sent, 1));
    closed = slow.ReadUntilClosed(1s);  // a byte a second, watching for the close meanwhile
  }
  ASSERT_TRUE(closed.has_value()) << "the trickle outlived 100 s";
  EXPECT_EQ(*closed, "") << "cut, not answered";
  EXPECT_EQ(Post(service, "/sj.php", "erin"), "##");
}

// After a known sequence of requests, the metrics page counts each by endpoint, status and marker.
TEST_F(ServiceFront, MetricsCountWhatWasAsked) {
  ASSERT_EQ(Post(service, "/sj.php", "fred"), "##");
  ASSERT_EQ(Post(service, "/fo.php", "fred"), "##");
  ASSERT_EQ(Post(service, "/fo.php", "fred"), "##");
  hw::HttpClient client;
  ASSERT_EQ(client.Post(service.url("/fo.php"), hw::BuildEnvelope("fred", "wrong!!", kMachine)).substr(0, 2), "!!");
  client.Get(service.url("/now.php"));
  RawConnection unknown(service.port(), "127.0.0.1");
  unknown.Send("GET /admin.php HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  ASSERT_TRUE(unknown.ReadUntilClosed(30s).has_value());

  RawConnection scrape(service.metricsPort(), "127.0.0.1");
  scrape.Send("GET /metrics HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  const std::string page = scrape.ReadUntilClosed(30s).value_or("");
  ASSERT_TRUE(page.starts_with("HTTP/1.1 200 ")) << page;
  EXPECT_NE(page.find("Content-Type: application/openmetrics-text; version=1.0.0; charset=utf-8"), std::string::npos);
  for (const char* line : {
           "hostwarden_requests_total{endpoint=\"/sj.php\",status=\"200\",marker=\"##\"} 1\n",
           "hostwarden_requests_total{endpoint=\"/fo.php\",status=\"200\",marker=\"##\"} 2\n",
           "hostwarden_requests_total{endpoint=\"/fo.php\",status=\"200\",marker=\"!!\"} 1\n",
           "hostwarden_requests_total{endpoint=\"/now.php\",status=\"200\",marker=\"\"} 1\n",
           "hostwarden_requests_total{endpoint=\"other\",status=\"404\",marker=\"\"} 1\n",
           "hostwarden_request_duration_seconds_count{endpoint=\"/fo.php\"} 3\n",
           "hostwarden_request_duration_seconds_bucket{endpoint=\"/fo.php\",le=\"+Inf\"} 3\n",
           "hostwarden_accounts 1\n",
           "hostwarden_password_hashes_in_flight 0\n",
           "hostwarden_limited_answers_total 0\n",
       })
    EXPECT_NE(page.find(line), std::string::npos) << line << page;
  EXPECT_TRUE(page.ends_with("# EOF\n")) << page;
}

// What curl, trusting only `authority`, fetches from the service over HTTPS; empty when it fails.
std::string FetchOverTls(int port, const std::string& authority) {
  const std::string command = "curl -s --max-time 20 --cacert " + authority + " https://127.0.0.1:" +
                              std::to_string(port) + "/now.php";
  std::string output;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char chunk[256];
    while (std::fgets(chunk, sizeof chunk, pipe)) output += chunk;
    ::pclose(pipe);
  }
  return output;
}

// With a certificate and key the endpoints answer over HTTPS; SIGHUP takes a new certificate on
// the same port, and a certificate that cannot be used leaves the old one serving.
TEST(ServiceTls, AnswersOverHttpsAndTakesANewCertificateOnSighup) {
  hwtest::TempDir keys, data;
  const hwtest::TestAuthority firstAuthority(keys, "first"), secondAuthority(keys, "second");
  const hwtest::IssuedCertificate first = firstAuthority.Issue("first", "IP:127.0.0.1");
  const hwtest::IssuedCertificate second = secondAuthority.Issue("second", "IP:127.0.0.1");
  ASSERT_TRUE(first.made && second.made) << "openssl could not make the test certificates";
  const std::string certificate = keys.File("served.pem"), key = keys.File("served.key");
  std::filesystem::copy_file(first.certificate, certificate);
  std::filesystem::copy_file(first.key, key);
  RunningService service("sqlite:" + data.File("dns.db"), {"--tls-cert", certificate, "--tls-key", key});
  EXPECT_TRUE(FetchOverTls(service.port(), firstAuthority.certificate()).starts_with("2013\r\n6\r\n15\r\n"));
  EXPECT_EQ(FetchOverTls(service.port(), secondAuthority.certificate()), "") << "not yet the second certificate";

  std::filesystem::copy_file(second.certificate, certificate, std::filesystem::copy_options::overwrite_existing);
  std::filesystem::copy_file(second.key, key, std::filesystem::copy_options::overwrite_existing);
  service.Signal(SIGHUP);
  ASSERT_TRUE(hwtest::WaitUntil([&] { return service.Log().find("TLS certificate read again") != std::string::npos; },
                                30s))
      << service.Log();
  EXPECT_TRUE(FetchOverTls(service.port(), secondAuthority.certificate()).starts_with("2013\r\n6\r\n15\r\n"));
  EXPECT_EQ(FetchOverTls(service.port(), firstAuthority.certificate()), "");

  hwtest::TempDir broken;
  std::ofstream(certificate) << "not a certificate";
  service.Signal(SIGHUP);
  ASSERT_TRUE(hwtest::WaitUntil([&] { return service.Log().find("unusable") != std::string::npos; }, 30s));
  EXPECT_TRUE(FetchOverTls(service.port(), secondAuthority.certificate()).starts_with("2013\r\n6\r\n15\r\n"));
}

}  // namespace
