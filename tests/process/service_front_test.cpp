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
#include "service/HttpFront.h"

namespace {

using namespace std::chrono_literals;
using hwtest::RunningService;

constexpr const char* kMachine = "0011223344AA";

// A raw connection to the service from a loopback address of the test's choosing (all of 127/8 is
// this machine's), to send exactly what a client of any kind would.
class RawConnection {
 public:
  // `receiveBuffer`: the socket's receive buffer in bytes, for a client that takes little at a time.
  RawConnection(int port, const std::string& from, int receiveBuffer = 0)
      : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    if (receiveBuffer > 0) ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
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
  bool closed() const { return closed_; }  // seen closed by ReadSome
  bool Send(const std::string& bytes) { return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) >= 0; }
  // The first `count` bytes that come (fewer when the connection closes first).
  std::string ReadSome(std::size_t count, std::chrono::milliseconds limit) {
    std::string received(count, '\0');
    std::size_t got = 0;
    pollfd ready{fd_, POLLIN, 0};
    while (got < count && ::poll(&ready, 1, static_cast<int>(limit.count())) > 0) {
      const ssize_t n = ::recv(fd_, received.data() + got, count - got, 0);
      closed_ = closed_ || n <= 0;
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    received.resize(got);
    return received;
  }
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
  bool closed_ = false;
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

// A request whose body the service and a proxy before it could delimit differently is answered 400
// once and its connection closed, so that nothing smuggled behind it is ever served; so is a body
// that is no envelope.
TEST_F(ServiceFront, AmbiguousFramingIsOneRefusalAndTheEndOfTheConnection) {
  const std::string smuggled = "GET /now.php HTTP/1.1\r\nHost: x\r\n\r\n";
  const std::pair<const char*, std::string> cases[] = {
      {"Content-Length and chunked",
       "POST /fo.php HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n" + smuggled},
      {"two Content-Length values",
       "POST /fo.php HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\nContent-Length: 36\r\n\r\n" + smuggled},
      {"a coding other than chunked",
       "POST /fo.php HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: gzip, chunked\r\n\r\n0\r\n\r\n" + smuggled},
      {"Content-Length over a chunked body", "POST /fo.php HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\n\r\n0\r\n\r\n" + smuggled},
  };
  for (const auto& [what, bytes] : cases) {
    RawConnection connection(service.port(), "127.0.5.1");
    connection.Send(bytes);
    const auto reply = connection.ReadUntilClosed(30s);
    ASSERT_TRUE(reply.has_value()) << what << ": the connection must close";
    EXPECT_TRUE(reply->starts_with("HTTP/1.1 400 ")) << what << ": " << *reply;
    EXPECT_EQ(reply->find("HTTP/1.1", 1), std::string::npos) << what << ": served behind the refusal: " << *reply;
  }
  RawConnection same(service.port(), "127.0.5.1");
  same.Send("GET /now.php HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
  EXPECT_TRUE(same.ReadUntilClosed(30s).value_or("").starts_with("HTTP/1.1 200 ")) << "one length twice is one framing";
}

// One address holds at most its share of connections; the next is closed at once, while another
// address is served.
TEST_F(ServiceFront, OneAddressHoldsAtMostItsShare) {
  std::vector<std::unique_ptr<RawConnection>> held;
  for (int i = 0; i < 50; ++i) held.push_back(std::make_unique<RawConnection>(service.port(), "127.0.3.1"));
  // Several threads take connections in at once; the next one is turned away once all are in.
  ASSERT_TRUE(hwtest::WaitUntil(
      [&] { return service.Metrics().find("hostwarden_open_connections 50\n") != std::string::npos; }, 30s));
  RawConnection extra(service.port(), "127.0.3.1");
  EXPECT_EQ(extra.ReadUntilClosed(30s), std::optional<std::string>("")) << "the 51st is closed unanswered";
  RawConnection other(service.port(), "127.0.3.2");
  other.Send("GET /now.php HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  const auto reply = other.ReadUntilClosed(30s);
  ASSERT_TRUE(reply.has_value());
  EXPECT_TRUE(reply->starts_with("HTTP/1.1 200 "));
}

// The trusted proxy speaks for many clients: its own connections are not held to one client's share,
// while the requests (and the downloads) it forwards count for the client each names.
// A responder whose answer from memory fails (a full memory, say): the request goes the way
// through the accounts, and the front serves on.
TEST(ServiceFrontFailures, AFailedAnswerFromMemoryTakesTheWayThroughTheAccounts) {
  struct FailingMemory : hw::service::Responder {
    hw::service::Response Answer(const hw::service::Request&) const override { return {200, "from the accounts"}; }
    std::optional<hw::service::Response> AnswerAtOnce(const hw::service::Request&) const override {
      throw std::runtime_error("out of memory");
    }
    bool UsesStore(const hw::service::Request&) const override { return true; }
  } responder;
  hw::service::HttpFront front(responder, hw::service::FrontLimits{});
  const int port = front.Start("127.0.0.1", 0);
  for (int i = 0; i < 2; ++i) {
    RawConnection connection(port, "127.0.3.1");
    ASSERT_TRUE(connection.Send("POST /fo.php HTTP/1.1\r\nHost: x\r\nContent-Length: 1\r\nConnection: close\r\n\r\na"));
    const auto reply = connection.ReadUntilClosed(std::chrono::seconds(10));
    ASSERT_TRUE(reply.has_value());
    EXPECT_TRUE(reply->starts_with("HTTP/1.1 200")) << *reply;
    EXPECT_TRUE(reply->ends_with("from the accounts")) << *reply;
  }
}

TEST(ServiceProxy, TheProxyIsExemptAndItsClientsHoldTheirShares) {
  hwtest::TempDir data;
  RunningService service("sqlite:" + data.File("dns.db"), {"--max-per-address", "4", "--trusted-proxy", "127.0.6.9"});
  std::vector<std::unique_ptr<RawConnection>> held;
  for (int i = 0; i < 10; ++i) {
    held.push_back(std::make_unique<RawConnection>(service.port(), "127.0.6.9"));
    held.back()->Send("POST /fo.php HTTP/1.1\r\nHost: x\r\nConten");  // half a head, as a slow client's
  }
  const auto forwarded = [](const char* client) {
    return std::string("POST /fo.php HTTP/1.1\r\nHost: x\r\nX-Forwarded-For: ") + client +
           "\r\nContent-Length: 36\r\n\r\n";  // the body never comes
  };
  for (int i = 0; i < 4; ++i) {
    held.push_back(std::make_unique<RawConnection>(service.port(), "127.0.6.9"));
    held.back()->Send(forwarded("198.51.100.1"));
  }
  ASSERT_TRUE(hwtest::WaitUntil(
      [&] { return service.Metrics().find("hostwarden_open_connections 14\n") != std::string::npos; }, 30s));
  RawConnection fifth(service.port(), "127.0.6.9");
  fifth.Send(forwarded("198.51.100.1"));
  EXPECT_TRUE(fifth.ReadUntilClosed(30s).value_or("").starts_with("HTTP/1.1 429 ")) << "the client's fifth at once";
  RawConnection other(service.port(), "127.0.6.9");
  other.Send("GET /now.php HTTP/1.1\r\nHost: x\r\nX-Forwarded-For: 198.51.100.2\r\nConnection: close\r\n\r\n");
  EXPECT_TRUE(other.ReadUntilClosed(30s).value_or("").starts_with("HTTP/1.1 200 ")) << "another client, same proxy";
  // Downloads count for the clients the proxy names: three clients, three builds at once.
  std::filesystem::create_directories(service.folder().File("builds"));
  service.folder().Write("builds/hostwarden1.3.0.1", std::string(4 * 1024 * 1024, 'b'));
  std::vector<std::unique_ptr<RawConnection>> downloads;
  for (int client = 3; client <= 5; ++client) {
    downloads.push_back(std::make_unique<RawConnection>(service.port(), "127.0.6.9", 4096));
    downloads.back()->Send("GET /hostwarden1.3.0.1 HTTP/1.1\r\nHost: x\r\nX-Forwarded-For: 198.51.100." +
                           std::to_string(client) + "\r\n\r\n");
  }
  for (auto& download : downloads) EXPECT_EQ(download->ReadSome(12, 30s), "HTTP/1.1 200");
}

// Builds are sent from the file as the client takes them: readers that take nothing hold no copy
// of the build, at most sixteen are served at once (two to one address), and a reader that takes a
// kilobyte a second is cut (reset: what its socket held does not trickle on).
TEST(ServiceDownloads, SlowReadersHoldNoCopyAndAreCut) {
  hwtest::TempDir data;
  RunningService service("sqlite:" + data.File("dns.db"), {"--max-per-address", "50"});
  std::filesystem::create_directories(service.folder().File("builds"));
  service.folder().Write("builds/hostwarden1.3.0.1", std::string(16 * 1024 * 1024, 'b'));
  const auto download = [&](const std::string& from, int receiveBuffer) {
    auto reader = std::make_unique<RawConnection>(service.port(), from, receiveBuffer);
    reader->Send("GET /hostwarden1.3.0.1 HTTP/1.1\r\nHost: x\r\n\r\n");
    return reader;
  };
  ASSERT_TRUE(download("127.0.7.99", 0)->ReadSome(12, 30s) == "HTTP/1.1 200");
  const long rest = service.ResidentKb();
  // Thirty-one readers that take a few kilobytes and then nothing, two or three to an address.
  std::vector<std::unique_ptr<RawConnection>> readers;
  for (int i = 0; i < 31; ++i) readers.push_back(download("127.0.7." + std::to_string(1 + i / 2), 4096));
  std::vector<std::size_t> served;
  int refused = 0;
  for (std::size_t i = 0; i < readers.size(); ++i) {
    const std::string status = readers[i]->ReadSome(12, 30s);
    if (status == "HTTP/1.1 200") served.push_back(i);
    refused += status == "HTTP/1.1 503" ? 1 : 0;
  }
  EXPECT_EQ(served.size(), 16u);
  EXPECT_EQ(refused, 15);
  EXPECT_LT(service.ResidentKb() - rest, 4 * 1024) << "kB more than at rest, with sixteen downloads under way";
  // Each served reader now takes a kilobyte a second, far below the minimum rate.
  const auto began = std::chrono::steady_clock::now();
  std::erase_if(served, [&](std::size_t i) { return readers[i]->closed(); });
  while (!served.empty() && std::chrono::steady_clock::now() - began < 60s) {
    for (const std::size_t i : served) readers[i]->ReadSome(1024, 50ms);
    std::erase_if(served, [&](std::size_t i) { return readers[i]->closed(); });
    std::this_thread::sleep_for(1s);  // the reader's pace, not a wait for the service
  }
  EXPECT_TRUE(served.empty()) << served.size() << " trickling readers were never cut";
  RawConnection whole(service.port(), "127.0.7.1");
  whole.Send("GET /hostwarden1.3.0.1 HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  const std::string reply = whole.ReadUntilClosed(60s).value_or("");
  EXPECT_TRUE(reply.starts_with("HTTP/1.1 200 ") && reply.ends_with(std::string(1000, 'b'))) << reply.substr(0, 100);
  EXPECT_GT(reply.size(), 16u * 1024 * 1024) << "a reader that takes it all gets it all";
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

  const std::string page = service.Metrics();
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
std::string FetchOverTls(int port, const std::string& authority, const std::string& options = "") {
  const std::string command = "curl -s --max-time 20 --cacert " + authority + " " + options + " https://127.0.0.1:" +
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
  // A client that would speak TLS 1.1 at most (its own security level lowered, so that the refusal is the service's).
  const std::string atMost11 = "--tlsv1.0 --tls-max 1.1 --ciphers DEFAULT@SECLEVEL=0";
  EXPECT_EQ(FetchOverTls(service.port(), firstAuthority.certificate(), atMost11), "");
  EXPECT_TRUE(FetchOverTls(service.port(), firstAuthority.certificate(), "--tlsv1.2 --tls-max 1.2").starts_with("2013"));

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
