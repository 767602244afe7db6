// The client's requests and the update download to an https service: the reference service's TLS
// listener with throwaway certificates, whose authority the client trusts through SSL_CERT_FILE as it
// would the system's store.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/AppError.h"
#include "ddns/Envelope.h"
#include "ddns/HttpClient.h"
#include "fixtures/ChildProcess.h"
#include "fixtures/RunningService.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestCertificates.h"
#include "update/Download.h"

namespace {

using hwtest::IssuedCertificate;
using hwtest::RunningService;
using hwtest::TestAuthority;
using hwtest::Validity;

constexpr const char* kMachine = "0011223344AA";
constexpr const char* kClockReplyStart = "2013\r\n6\r\n15\r\n";

// The authority the clients of this process trust, and one they do not. SSL_CERT_FILE names the
// trusted one before the first secure request of the process reads the store.
struct Authorities {
  hwtest::TempDir folder;
  TestAuthority trusted{folder, "trusted"};
  TestAuthority stranger{folder, "stranger"};
  Authorities() { ::setenv("SSL_CERT_FILE", trusted.certificate().c_str(), 1); }
};

const Authorities& Shared() {
  static const Authorities authorities;
  return authorities;
}

// The reference service, answering over TLS with `served` when it is given.
std::unique_ptr<RunningService> StartService(const hwtest::TempDir& data, const IssuedCertificate* served) {
  std::vector<std::string> arguments;
  if (served) arguments = {"--tls-cert", served->certificate, "--tls-key", served->key};
  return std::make_unique<RunningService>("sqlite:" + data.File("dns.db"), arguments);
}

// Connects to the loopback port whatever the host, so that a name needs no name server, and
// counts the connections made.
hw::Connector ToLoopback(int port, int& connections) {
  return [port, &connections](const std::string&, int) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      ::close(fd);
      throw hw::TransportError("the test's connect failed");
    }
    ++connections;
    return fd;
  };
}

std::string HttpsUrl(const std::string& host, int port, const std::string& path) {
  return "https://" + host + ":" + std::to_string(port) + path;
}

// The reply, its first two bytes for a post (the service's marker), or the failure's message.
std::string Outcome(const std::function<std::string()>& request, bool markerOnly = false) {
  try {
    const std::string reply = request();
    return markerOnly ? reply.substr(0, 2) : reply;
  } catch (const hw::TransportError& error) {
    return error.Message();
  }
}

// The certificate decides: one of a trusted authority, for the host the URL names and valid now,
// carries the clock request, a registration and a check; any other fails every request with the
// reason it was refused for.
TEST(HttpsClient, TheServiceCertificateMustHoldForTheHost) {
  struct Case {
    const char* what;
    bool byStranger;
    const char* subjectAltName;
    Validity validity;
    const char* host;     // as the URL names it
    const char* failure;  // null: the requests go through
  };
  const Case cases[] = {
      {"trusted, for the address", false, "IP:127.0.0.1", Validity::Current, "127.0.0.1", nullptr},
      {"trusted, for the name", false, "DNS:service.test", Validity::Current, "service.test", nullptr},
      {"for another name", false, "DNS:other.test", Validity::Current, "service.test",
       "TLS handshake failed: hostname mismatch"},
      {"for another address", false, "IP:127.0.0.2", Validity::Current, "127.0.0.1",
       "TLS handshake failed: IP address mismatch"},
      {"expired", false, "IP:127.0.0.1", Validity::Expired, "127.0.0.1",
       "TLS handshake failed: certificate has expired"},
      {"from an authority not trusted", true, "IP:127.0.0.1", Validity::Current, "127.0.0.1",
       "TLS handshake failed: unable to get local issuer certificate"},
  };
  const Authorities& authorities = Shared();
  ASSERT_TRUE(authorities.trusted.made() && authorities.stranger.made()) << "openssl could not make the authorities";
  int number = 0;
  for (const Case& c : cases) {
    const TestAuthority& issuer = c.byStranger ? authorities.stranger : authorities.trusted;
    const IssuedCertificate served = issuer.Issue("served" + std::to_string(++number), c.subjectAltName, c.validity);
    ASSERT_TRUE(served.made) << c.what << ": openssl could not make the certificate";
    hwtest::TempDir data;
    const auto service = StartService(data, &served);
    int connections = 0;
    hw::HttpClient client;
    client.SetConnector(ToLoopback(service->port(), connections));
    const auto url = [&](const char* path) { return HttpsUrl(c.host, service->port(), path); };
    const std::string envelope = hw::BuildEnvelope("alice", "secret1", kMachine);

    const std::string clock = Outcome([&] { return client.Get(url("/now.php")); });
    const std::string registration = Outcome([&] { return client.Post(url("/sj.php"), envelope); }, true);
    const std::string check = Outcome([&] { return client.Post(url("/fo.php"), envelope); }, true);
    if (c.failure) {
      EXPECT_EQ(clock, c.failure) << c.what;
      EXPECT_EQ(registration, c.failure) << c.what;
      EXPECT_EQ(check, c.failure) << c.what;
    } else {
      EXPECT_TRUE(clock.starts_with(kClockReplyStart)) << c.what << ": " << clock;
      EXPECT_EQ(registration, "##") << c.what;
      EXPECT_EQ(check, "##") << c.what;
    }
  }
}

// A service that speaks plain HTTP on the port an https URL names is no TLS server.
TEST(HttpsClient, APlainServiceFailsTheHandshake) {
  Shared();  // names the trusted authority before this process reads the store
  hwtest::TempDir data;
  const auto service = StartService(data, nullptr);
  hw::HttpClient client;
  EXPECT_EQ(Outcome([&] { return client.Get(HttpsUrl("127.0.0.1", service->port(), "/now.php")); }),
            "TLS handshake failed: wrong version number");
}

// A TLS server that answers every connection with `reply` and then drops it without TLS's own
// farewell (no close_notify), as a server cut off midway would.
class CuttingTlsServer {
 public:
  CuttingTlsServer(const IssuedCertificate& served, const std::string& reply) {
    folder_.Write("reply", reply);
    const std::string script =
        "import socket, ssl, sys\n"
        "context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)\n"
        "context.load_cert_chain(sys.argv[1], sys.argv[2])\n"
        "listener = socket.create_server(('127.0.0.1', 0))\n"
        "open('port', 'w').write('%d\\n' % listener.getsockname()[1])\n"
        "reply = open('reply', 'rb').read()\n"
        "while True:\n"
        "    raw, _ = listener.accept()\n"
        "    try:\n"
        "        tls = context.wrap_socket(raw, server_side=True)\n"
        "        tls.recv(65536)\n"
        "        tls.sendall(reply)\n"
        "        tls.shutdown(socket.SHUT_RDWR)  # the socket's own end: no close_notify\n"
        "        tls.close()\n"
        "    except OSError:\n"
        "        raw.close()\n";
    process_ = std::make_unique<hwtest::ChildProcess>(
        "/usr/bin/python3", folder_.path(), std::map<std::string, std::string>{},
        std::vector<std::string>{"-c", script, served.certificate, served.key}, folder_.File("server.log"));
    if (!hwtest::WaitUntil([&] { return hwtest::ReadFileText(folder_.File("port")).ends_with("\n"); },
                           std::chrono::seconds(30)))
      throw std::runtime_error("the TLS server did not start: " + hwtest::ReadFileText(folder_.File("server.log")));
    port_ = std::stoi(hwtest::ReadFileText(folder_.File("port")));
  }
  int port() const { return port_; }

 private:
  hwtest::TempDir folder_;
  std::unique_ptr<hwtest::ChildProcess> process_;
  int port_ = 0;
};

// A reply cut short is a failure over TLS as over plain TCP, also when the server leaves without
// TLS's farewell: a body shorter than its length, chunks without the last one.
TEST(HttpsClient, AReplyCutShortFails) {
  const IssuedCertificate served = Shared().trusted.Issue("cutting", "IP:127.0.0.1");
  ASSERT_TRUE(served.made);
  const std::pair<const char*, std::string> cases[] = {
      {"shorter than its length", "HTTP/1.0 200 OK\r\nContent-Length: 50\r\n\r\n##alice.hostwarden.test now"},
      {"no last chunk", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\n##\r\n"},
  };
  for (const auto& [what, reply] : cases) {
    CuttingTlsServer server(served, reply);
    hw::HttpClient client;
    const std::string url = HttpsUrl("127.0.0.1", server.port(), "/sj.php");
    EXPECT_EQ(Outcome([&] { return client.Post(url, hw::BuildEnvelope("alice", "secret1", kMachine)); }),
              "Connection Closed Gracefully.")
        << what;
  }
}

// The same requests leave and keep their connections over TLS as over plain TCP: a GET goes on the
// connection the last exchange kept, a POST on a new one.
TEST(HttpsClient, ConnectionsAreKeptAsOverPlainTcp) {
  const Authorities& authorities = Shared();
  const IssuedCertificate served = authorities.trusted.Issue("served", "IP:127.0.0.1");
  ASSERT_TRUE(served.made);
  const auto connectionsFor = [&](bool secure) {
    hwtest::TempDir data;
    const auto service = StartService(data, secure ? &served : nullptr);
    int connections = 0;
    hw::HttpClient client;
    client.SetConnector(ToLoopback(service->port(), connections));
    const std::string prefix = (secure ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(service->port());
    const std::string envelope = hw::BuildEnvelope("bob", "secret1", kMachine);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(client.Get(prefix + "/now.php").starts_with(kClockReplyStart));
    EXPECT_EQ(client.Post(prefix + "/sj.php", envelope).substr(0, 2), "##");
    for (int i = 0; i < 2; ++i) EXPECT_TRUE(client.Get(prefix + "/now.php").starts_with(kClockReplyStart));
    return connections;
  };
  const int plain = connectionsFor(false);
  EXPECT_LT(plain, 6) << "some connection was kept";
  EXPECT_EQ(connectionsFor(true), plain);
}

// The update download verifies the service's certificate against the same store as the requests.
TEST(HttpsDownload, TrustsTheStoreOfTheRequests) {
  const Authorities& authorities = Shared();
  const std::pair<const TestAuthority*, bool> cases[] = {{&authorities.trusted, true}, {&authorities.stranger, false}};
  for (const auto& [issuer, trusted] : cases) {
    const IssuedCertificate served = issuer->Issue(trusted ? "download" : "stranger-download", "IP:127.0.0.1");
    ASSERT_TRUE(served.made);
    hwtest::TempDir data;
    const auto service = StartService(data, &served);
    const std::string builds = service->folder().File("builds");
    std::filesystem::create_directories(builds);
    const std::string build(5000, 'b');
    std::ofstream(builds + "/hostwarden1.3.0.9", std::ios::binary) << build;
    hwtest::TempDir target;
    const std::string saved = target.File("hostwarden.ex_");
    EXPECT_EQ(hw::DownloadToFile(HttpsUrl("127.0.0.1", service->port(), "/hostwarden1.3.0.9"), saved, "Hostwarden"),
              trusted);
    EXPECT_EQ(hwtest::ReadFileText(saved) == build, trusted) << "trusted: " << trusted;
  }
}

}  // namespace
