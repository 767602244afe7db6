// The client's bytes on the wire and its failures, against a scripted fake service on loopback.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "common/AppError.h"
#include "ddns/HttpClient.h"
#include "fixtures/FakeService.h"

namespace {

using hwtest::FakeService;
using hwtest::Reply;

constexpr const char* kHeadTail =
    "Accept: text/html, */*\r\nUser-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n\r\n";

std::string HostLine(const FakeService& fake) { return "Host: 127.0.0.1:" + std::to_string(fake.port()) + "\r\n"; }

// The body a GET returns, or its failure's whole message.
std::string OutcomeOfGet(hw::HttpClient& client, const std::string& url) {
  try {
    return client.Get(url);
  } catch (const hw::TransportError& error) {
    return error.Message();
  }
}

// One GET on a fresh client, answered with the scripted reply. A client that waits for more than
// the reply frames fails with "Read Timeout" after a few seconds instead of hanging the test.
std::string OutcomeOfReply(Reply reply) {
  FakeService fake;
  fake.Enqueue(std::move(reply));
  hw::HttpClient client;
  hw::HttpLimits limits;
  limits.silenceMs = 3000;
  client.SetLimits(limits);
  return OutcomeOfGet(client, fake.url("/now.php"));
}

std::string FailureOf(hw::HttpClient& client, const std::string& url) {
  try {
    client.Get(url);
  } catch (const hw::TransportError& error) {
    return error.Message();
  }
  return "(no failure)";
}

// A loopback socket bound to a port of the system's choosing; listening when a backlog is given.
class LoopbackSocket {
 public:
  explicit LoopbackSocket(int backlog = -1) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    if (backlog >= 0) ::listen(fd_, backlog);
  }
  ~LoopbackSocket() { ::close(fd_); }
  LoopbackSocket(const LoopbackSocket&) = delete;
  LoopbackSocket& operator=(const LoopbackSocket&) = delete;

  int port() const { return port_; }
  std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

 private:
  int fd_;
  int port_ = 0;
};

// A port that takes no new connection: its listener never accepts and its one queue place is taken,
// so the kernel drops further connection requests and a connect stays pending, as to a silent host.
class UnansweringPort {
 public:
  UnansweringPort() : listener_(0), filler_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(listener_.port()));
    ::connect(filler_, reinterpret_cast<sockaddr*>(&address), sizeof address);
  }
  ~UnansweringPort() { ::close(filler_); }
  std::string url(const std::string& path) const { return listener_.url(path); }

 private:
  LoopbackSocket listener_;
  int filler_;
};

// The three kinds of request the service sees, byte for byte: a client's first GET, any POST, and
// a GET after the client's first POST, which carries the POST's connection token and content type.
TEST(HttpWire, RequestsByteForByte) {
  FakeService fake;
  fake.Enqueue(Reply::Ok("2013\r\n6\r\n15\r\n8\r\n5\r\n9\r\n"));
  fake.Enqueue(Reply::Raw("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: keep-alive\r\n\r\n##").KeepOpen());
  fake.Enqueue(Reply::Ok("now"));
  fake.Enqueue(Reply::Ok("**"));
  hw::HttpClient client;
  EXPECT_EQ(client.Get(fake.url("/now.php")), "2013\r\n6\r\n15\r\n8\r\n5\r\n9\r\n");
  EXPECT_EQ(client.Post(fake.url("/fo.php"), "a=VEVw+/=="), "##");
  EXPECT_EQ(client.Get(fake.url("/now.php")), "now");
  EXPECT_EQ(client.Post(fake.url("/fo.php"), "a=VEVw+/=="), "**");

  const std::string firstGet = "GET /now.php HTTP/1.1\r\nContent-Type: text/html\r\n" + HostLine(fake) + kHeadTail;
  const std::string post =
      "POST /fo.php HTTP/1.0\r\nConnection: keep-alive\r\nContent-Type: application/x-www-form-urlencoded\r\n"
      "Content-Length: 10\r\n" +
      HostLine(fake) + kHeadTail + "a=VEVw+/==";
  const std::string laterGet =
      "GET /now.php HTTP/1.1\r\nConnection: keep-alive\r\nContent-Type: application/x-www-form-urlencoded\r\n" +
      HostLine(fake) + kHeadTail;
  EXPECT_EQ(fake.Requests(), (std::vector<std::string>{firstGet, post, laterGet, post}));
  // The first POST leaves the first GET's connection, its GET reuses the kept one, the next POST
  // starts afresh although a connection is kept.
  EXPECT_EQ(fake.RequestsOn(2), (std::vector<std::string>{post, laterGet}));
  EXPECT_EQ(fake.ConnectionCount(), 3);
}

TEST(HttpWire, KeepsTheConnectionAsTheReplyAllows) {
  struct Case {
    bool post;
    const char* replyHeader;
    int connections;  // after the request and one GET that follows it
  };
  const Case cases[] = {
      {true, "Connection: keep-alive\r\n", 1},
      {true, "Connection:  Keep-Alive \r\n", 1},
      {true, "Proxy-Connection: keep-alive\r\n", 1},
      {true, "", 2},
      {false, "", 1},
      {false, "Connection: close\r\n", 2},
      {false, "Proxy-Connection: CLOSE\r\n", 2},
  };
  for (const Case& c : cases) {
    FakeService fake;
    fake.Enqueue(
        Reply::Raw(std::string("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n") + c.replyHeader + "\r\n##").KeepOpen());
    fake.Enqueue(Reply::Ok("next"));
    hw::HttpClient client;
    EXPECT_EQ(c.post ? client.Post(fake.url("/fo.php"), "a=") : client.Get(fake.url("/now.php")), "##");
    EXPECT_EQ(client.Get(fake.url("/now.php")), "next");
    EXPECT_EQ(fake.ConnectionCount(), c.connections) << (c.post ? "POST " : "GET ") << c.replyHeader;
  }
}

// A server that ends a kept connection while the client is idle has left its end-of-stream behind;
// the next GET sees it before sending and connects again instead of failing.
TEST(HttpWire, KeptConnectionClosedByTheServerMeanwhileIsReplaced) {
  FakeService fake;
  fake.Enqueue(Reply::Raw("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nfirst"));  // then closes
  fake.Enqueue(Reply::Ok("second"));
  hw::HttpClient client;
  EXPECT_EQ(client.Get(fake.url("/now.php")), "first");
  ASSERT_TRUE(fake.WaitForClosedConnections(1));
  EXPECT_EQ(client.Get(fake.url("/now.php")), "second");
  EXPECT_EQ(fake.ConnectionCount(), 2);
}

struct ReplyCase {
  const char* what;
  std::string reply;
  std::string result;     // the body returned, or the failure's message
  bool keepOpen = false;  // the service leaves the connection open after the reply
};

std::string OutcomeOf(const ReplyCase& c) {
  Reply reply = Reply::Raw(c.reply);
  return OutcomeOfReply(c.keepOpen ? std::move(reply).KeepOpen() : std::move(reply));
}

// A header line whose text (without its line end) is `length` bytes long.
std::string HeaderLineOf(std::size_t length) { return "X-Pad: " + std::string(length - 7, 'p'); }

TEST(HttpWire, ReplyBodiesAccepted) {
  const ReplyCase cases[] = {
      {"length", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", "hello"},
      {"no length: read to close", "HTTP/1.0 200 OK\r\n\r\nuntil the end", "until the end"},
      // The connection stays open after these: a client that read a body would wait in vain.
      {"length 0", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", "", true},
      {"204", "HTTP/1.1 204 No Content\r\n\r\n", "", true},
      {"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nWiki\r\n5\r\npedia\r\n0\r\n\r\n",
       "Wikipedia"},
      {"two interim replies first",
       "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 100 Continue\r\nX-A: 1\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: "
       "2\r\n\r\nok",
       "ok"},
      {"longest line with CR LF", "HTTP/1.1 200 OK\r\n" + HeaderLineOf(16384) + "\r\nContent-Length: 2\r\n\r\nok",
       "ok"},
      {"longest line with LF", "HTTP/1.1 200 OK\n" + HeaderLineOf(16384) + "\nContent-Length: 2\n\nok", "ok"},
      {"chunk extension", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2;x=y\r\nok\r\n0\r\n\r\n", "ok"},
      {"LF line ends", "HTTP/1.1 200 OK\nContent-Length: 2\n\nok", "ok"},
      {"bytes above 127 unchanged", "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\n\xe4\xbd\xa0\xff", "\xe4\xbd\xa0\xff"},
  };
  for (const ReplyCase& c : cases) EXPECT_EQ(OutcomeOf(c), c.result) << c.what;
}

TEST(HttpWire, FailuresCarryTheirExactMessages) {
  const ReplyCase cases[] = {
      {"redirect", "HTTP/1.1 302 Found\r\nLocation: http://elsewhere/\r\nContent-Length: 0\r\n\r\n",
       "HTTP/1.1 302 Found"},
      {"location on a 200", "HTTP/1.1 200 OK\r\nLocation: /x\r\nContent-Length: 0\r\n\r\n", "HTTP/1.1 200 OK"},
      {"not found", "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot here.", "HTTP/1.1 404 Not Found"},
      {"no number", "HTTP/1.1 abc\r\n\r\n", "HTTP/1.1 abc"},
      {"status line with a NUL, shown whole", std::string("HTTP/1.1 500 Bad\0Thing\r\nContent-Length: 0\r\n\r\n", 42),
       std::string("HTTP/1.1 500 Bad\0Thing", 22)},
      {"line one byte too long, CR LF", "HTTP/1.1 200 OK\r\n" + HeaderLineOf(16385) + "\r\n\r\n",
       "Max line length exceeded."},
      {"line one byte too long, LF", "HTTP/1.1 200 OK\n" + HeaderLineOf(16385) + "\n\n", "Max line length exceeded."},
      {"long header line", "HTTP/1.1 200 OK\r\nX-Long: " + std::string(17000, 'x') + "\r\n\r\n",
       "Max line length exceeded."},
      {"long status line", "HTTP/1.1 200 " + std::string(17000, 'x') + "\r\n\r\n", "Max line length exceeded."},
      {"close before the status line", "HTTP/1.1 20", "Connection Closed Gracefully."},
      {"nothing at all", "", "Connection Closed Gracefully."},
      {"close inside the head", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n", "Undefined situation"},
      // A reply cut short is never taken whole: a cut registration reply would store an account.
      {"a body shorter than its length", "HTTP/1.0 200 OK\r\nContent-Length: 50\r\n\r\n##alice.hostwarden.test n",
       "Connection Closed Gracefully."},
      {"chunks without the last one", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nWiki\r\n",
       "Connection Closed Gracefully."},
      {"a chunk cut short", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n9\r\nWiki", "Connection Closed Gracefully."},
      {"an error body cut short keeps its status line", "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot",
       "HTTP/1.1 404 Not Found"},
  };
  for (const ReplyCase& c : cases) EXPECT_EQ(OutcomeOf(c), c.result) << c.what;
}

TEST(HttpWire, LookupAndConnectFailures) {
  const LoopbackSocket refusing;  // bound, never listening
  const std::pair<std::string, std::string> cases[] = {
      {refusing.url("/now.php"), "Socket Error # 10061\r\nConnection refused."},
      // Reserved names fail at once, without asking a name server; so do malformed ones.
      {"http://nonexistent.invalid:17861/", "Socket Error # 11001\r\nHost not found."},
      {"http://Service.INVALID.:17861/", "Socket Error # 11001\r\nHost not found."},
      {"http://bad..host:17861/now.php", "Socket Error # 11001\r\nHost not found."},
  };
  for (const auto& [url, message] : cases) {
    hw::HttpClient client;
    EXPECT_EQ(FailureOf(client, url), message) << url;
  }
}

TEST(HttpWire, CookiesComeBack) {
  FakeService fake;
  fake.Enqueue(Reply::Raw("HTTP/1.1 200 OK\r\nSet-Cookie: sid=42; path=/\r\nSet-Cookie2: v=2\r\n"
                          "Content-Length: 0\r\n\r\n")
                   .KeepOpen());
  fake.Enqueue(Reply::Ok(""));
  hw::HttpClient client;
  client.Get(fake.url("/"));
  client.Get(fake.url("/"));
  EXPECT_NE(fake.Requests().at(1).find("\r\nCookie: sid=42; v=2\r\n\r\n"), std::string::npos) << fake.Requests().at(1);
}

// A cookie goes back into the next request's head, so one whose name or value holds a control byte
// is not kept: a bare CR there would begin a header line of the service's choosing for any proxy
// that ends lines at a CR. The other cookies of the reply are kept as ever.
TEST(HttpWire, CookiesWithControlBytesAreNotSentBack) {
  // The second request of a client whose first reply set `setCookies`.
  const auto nextRequest = [](const std::string& setCookies) {
    FakeService fake;
    fake.Enqueue(Reply::Raw("HTTP/1.1 200 OK\r\n" + setCookies + "Content-Length: 0\r\n\r\n").KeepOpen());
    fake.Enqueue(Reply::Ok(""));
    hw::HttpClient client;
    client.Get(fake.url("/"));
    client.Get(fake.url("/"));
    const std::string request = fake.Requests().at(1);
    // The port differs from one fake service to the next; the rest must match byte for byte.
    const std::string host = HostLine(fake);
    return request.substr(0, request.find(host)) + "Host: HOST\r\n" + request.substr(request.find(host) + host.size());
  };
  const std::string withoutCookies = nextRequest("");
  ASSERT_TRUE(withoutCookies.ends_with("\r\n\r\n"));
  const auto withCookie = [&](const std::string& line) {
    return withoutCookies.substr(0, withoutCookies.size() - 2) + line + "\r\n\r\n";
  };
  const std::pair<std::string, std::string> cases[] = {
      {"Set-Cookie: a=b\r\n", withCookie("Cookie: a=b")},
      {"Set-Cookie: a=b\rX-Injected: 1\r\n", withoutCookies},
      {"Set-Cookie: a=b\rX-Injected: 1\r\nSet-Cookie: c=d\r\n", withCookie("Cookie: c=d")},
      {"Set-Cookie: a\r=b\r\n", withoutCookies},
      {"Set-Cookie: a=b\x01c\r\n", withoutCookies},
      {std::string("Set-Cookie: a=b") + '\0' + "c\r\n", withoutCookies},
      {"Set-Cookie: a=b\tc\r\n", withoutCookies},
      {"Set-Cookie: a\x7f=b\r\n", withoutCookies},
      {"Set-Cookie: a=b; path=/\x01\r\n", withCookie("Cookie: a=b")},  // attributes are never sent
  };
  for (const auto& [setCookies, expected] : cases) EXPECT_EQ(nextRequest(setCookies), expected) << setCookies;
}

TEST(HttpUrl, SplitsHostPortAndTarget) {
  struct Case {
    const char* url;
    const char* host;
    int port;
    const char* path;
    const char* hostHeader;
    bool secure = false;
  };
  const Case cases[] = {
      {"http://ddns.example:17861/fo.php", "ddns.example", 17861, "/fo.php", "ddns.example:17861"},
      {"http://ddns.example:17861", "ddns.example", 17861, "/", "ddns.example:17861"},
      {"http://ddns.example/", "ddns.example", 80, "/", "ddns.example"},
      {"http://ddns.example:80/a?b=1#top", "ddns.example", 80, "/a?b=1", "ddns.example"},
      {"http://ddns.example:17861?x=1", "ddns.example", 17861, "/?x=1", "ddns.example:17861"},
      {"http://ddns.example:443/", "ddns.example", 443, "/", "ddns.example:443"},
      {"https://ddns.example:17861/fo.php", "ddns.example", 17861, "/fo.php", "ddns.example:17861", true},
      {"https://ddns.example/now.php", "ddns.example", 443, "/now.php", "ddns.example", true},
      {"https://ddns.example:443", "ddns.example", 443, "/", "ddns.example", true},
      {"https://ddns.example:80/", "ddns.example", 80, "/", "ddns.example:80", true},
      {"HTTPS://ddns.example/", "ddns.example", 443, "/", "ddns.example", true},
  };
  for (const Case& c : cases) {
    const hw::HttpTarget target = hw::ParseHttpUrl(c.url);
    EXPECT_EQ(target.host, c.host) << c.url;
    EXPECT_EQ(target.port, c.port) << c.url;
    EXPECT_EQ(target.path, c.path) << c.url;
    EXPECT_EQ(hw::HostHeaderOf(target), c.hostHeader) << c.url;
    EXPECT_EQ(target.secure, c.secure) << c.url;
  }
}

// While the outer request waits, the pump runs a handler that makes its own request on the same
// client (a GET, or a POST, which would otherwise start by closing the client's connection). The
// nested one travels on a connection of its own; the outer one completes on the connection it was
// waiting on, and that connection is still kept for the next GET.
TEST(HttpWaiting, NestedRequestFromThePumpLeavesTheWaitingOneIntact) {
  for (const bool nestedPost : {false, true}) {
    FakeService fake;
    auto gate = std::make_shared<hwtest::Gate>();
    fake.Enqueue(Reply::Ok("first"));
    fake.Enqueue(Reply::Ok("outer").After(gate));
    fake.Enqueue(Reply::Ok("nested"));
    fake.Enqueue(Reply::Ok("after"));
    int pumped = 0;
    std::string nestedReply;
    hw::HttpClient* self = nullptr;
    hw::HttpClient client([&] {
      ++pumped;
      if (pumped == 1) nestedReply = nestedPost ? self->Post(fake.url("/fo.php"), "a=") : self->Get(fake.url("/n"));
      if (pumped == 2) fake.Open(*gate);  // the reply comes only once the pump has run again
    });
    self = &client;
    EXPECT_EQ(client.Get(fake.url("/first")), "first");
    EXPECT_EQ(client.Get(fake.url("/outer")), "outer");
    EXPECT_EQ(nestedReply, "nested");
    EXPECT_EQ(client.Get(fake.url("/after")), "after");

    const auto onFirst = fake.RequestsOn(1);
    ASSERT_EQ(onFirst.size(), 3u) << "nested POST: " << nestedPost;
    EXPECT_TRUE(onFirst[1].starts_with("GET /outer "));
    EXPECT_TRUE(onFirst[2].starts_with("GET /after "));
    EXPECT_EQ(fake.RequestsOn(2).size(), 1u);
    EXPECT_EQ(fake.ConnectionCount(), 2);
  }
}

TEST(HttpWaiting, ConnectPumpsAndGivesUpAtItsBound) {
  const UnansweringPort port;
  int pumped = 0;
  hw::HttpClient client([&] { ++pumped; });
  hw::HttpLimits limits;
  limits.connectMs = 1000;
  client.SetLimits(limits);
  EXPECT_EQ(FailureOf(client, port.url("/now.php")), "Connect timed out.");
  EXPECT_GE(pumped, 3);  // once per 125 ms slice: eight of them, when the machine is not busy
}

// A server that takes the connection and never answers the TLS handshake holds the request no
// longer than the connect bound, and the pump runs meanwhile. (This pump ends a request that
// outlives the bound by far.)
TEST(HttpWaiting, TlsHandshakePumpsAndGivesUpAtTheConnectBound) {
  const LoopbackSocket silent(1);  // the system completes the connect; nobody ever reads or writes
  const std::string url = "https://127.0.0.1:" + std::to_string(silent.port()) + "/now.php";
  int pumped = 0;
  hw::HttpClient client([&] {
    if (++pumped > 40) throw hw::TransportError("still waiting after 5 s");
  });
  hw::HttpLimits limits;
  limits.connectMs = 1000;
  client.SetLimits(limits);
  EXPECT_EQ(FailureOf(client, url), "TLS handshake timed out.");
  EXPECT_GE(pumped, 3);  // once per 125 ms slice
}

// The reply-silence bound and the shorter bound on a failed reply's body are separate limits. The
// pump runs once per quiet 250 ms slice; should the wait outlast its bound by far, the pump ends it.
TEST(HttpWaiting, SilenceAndStalledErrorBodiesAreBounded) {
  struct Case {
    const char* what;
    Reply reply;
    int silenceMs;
    int errorBodyMs;
  };
  Case cases[] = {
      {"silent server", Reply::Silent(), 300, 120000},
      {"error body stalls", Reply::Raw("HTTP/1.1 500 Oops\r\nContent-Length: 100\r\n\r\npartial").KeepOpen(), 120000,
       300},
  };
  for (Case& c : cases) {
    FakeService fake;
    fake.Enqueue(std::move(c.reply));
    int quietSlices = 0;
    hw::HttpClient client([&] {
      if (++quietSlices > 8) throw hw::TransportError("still waiting after 2 s");
    });
    hw::HttpLimits limits;
    limits.silenceMs = c.silenceMs;
    limits.errorBodyMs = c.errorBodyMs;
    client.SetLimits(limits);
    EXPECT_EQ(FailureOf(client, fake.url("/now.php")), "Read Timeout") << c.what;
  }
}

// While reply data keeps arriving, more often than the quiet slices end, the windows are still
// served: the pump runs at least every 250 ms. (This pump ends the request once it has run.)
TEST(HttpWaiting, TricklingReplyStillPumps) {
  FakeService fake;
  fake.Enqueue(Reply::Raw("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n").ThenEndlessly("x", 20));
  hw::HttpClient client([] { throw hw::TransportError("pumped"); });
  EXPECT_EQ(FailureOf(client, fake.url("/now.php")), "pumped");
}

// A send that cannot go on (the service takes nothing: the socket's buffer is full), or that goes
// on a little at a time (the service takes a few kilobytes now and then, never leaving a quiet
// moment), waits as a read does: the windows are served meanwhile, and the exchange's bound ends it.
TEST(HttpWaiting, AStalledOrTricklingSendPumpsAndIsBounded) {
  for (const bool trickling : {false, true}) {
    int ends[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, ends), 0);
    const std::string filler(65536, 'x');
    while (::send(ends[0], filler.data(), filler.size(), MSG_NOSIGNAL) > 0) {
    }
    std::atomic<bool> done{false};
    std::thread service([&] {
      char taken[4096];
      while (trickling && !done) {  // all there is, ten times a second: never a quiet quarter second
        while (::recv(ends[1], taken, sizeof taken, 0) > 0) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    });
    int pumped = 0;
    hw::HttpClient client([&] { ++pumped; });
    hw::HttpLimits limits;
    limits.exchangeMs = 700;
    client.SetLimits(limits);
    client.SetConnector([&](const std::string&, int) { return ends[0]; });
    try {
      client.Post("http://service.test:17861/fo.php", std::string(8 << 20, 'a'));  // far more than 700 ms of trickle
      ADD_FAILURE() << "the send went through";
    } catch (const hw::TransportError& error) {
      EXPECT_EQ(error.Message(), "Read Timeout") << trickling;
    }
    EXPECT_GE(pumped, 1) << trickling;
    done = true;
    service.join();
    ::close(ends[1]);
  }
}

// A trickle, or interim replies without end, cannot hold a request for longer than its overall bound.
TEST(HttpWaiting, OneExchangeIsBoundedAsAWhole) {
  const std::pair<const char*, Reply> cases[] = {
      {"trickling body", Reply::Raw("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n").ThenEndlessly("x", 20)},
      {"interim replies", Reply::Raw("").ThenEndlessly("HTTP/1.1 100 Continue\r\n\r\n", 20)},
  };
  for (const auto& [what, reply] : cases) {
    FakeService fake;
    fake.Enqueue(reply);
    int pumped = 0;
    hw::HttpClient client([&] { ++pumped; });
    hw::HttpLimits limits;
    limits.exchangeMs = 700;
    limits.interimReplies = 1000000;
    client.SetLimits(limits);
    EXPECT_EQ(FailureOf(client, fake.url("/now.php")), "Read Timeout") << what;
    EXPECT_GE(pumped, 1) << what;
  }
}

// What one reply may hold is bounded; past a bound the request fails like any transport failure,
// whatever the server keeps sending. The service's real replies are a few dozen bytes.
TEST(HttpBounds, RepliesBeyondTheirBoundsFail) {
  const std::string filler(4096, 'x');
  std::string cookies;
  for (int i = 0; i <= 64; ++i) cookies += "Set-Cookie: c" + std::to_string(i) + "=1\r\n";
  const std::pair<const char*, Reply> cases[] = {
      {"endless header lines", Reply::Raw("HTTP/1.1 200 OK\r\n").ThenEndlessly("X-Filler: " + filler + "\r\n")},
      {"endless cookies", Reply::Raw("HTTP/1.1 200 OK\r\n").ThenEndlessly("Set-Cookie: a=" + filler + "\r\n")},
      {"more cookies than kept", Reply::Raw("HTTP/1.1 200 OK\r\n" + cookies + "Content-Length: 0\r\n\r\n")},
      {"endless chunks",
       Reply::Raw("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n").ThenEndlessly("1000\r\n" + filler + "\r\n")},
      {"huge length", Reply::Raw("HTTP/1.1 200 OK\r\nContent-Length: 1000000000000\r\n\r\n").ThenEndlessly(filler)},
      {"endless body without length", Reply::Raw("HTTP/1.0 200 OK\r\n\r\n").ThenEndlessly(filler)},
      {"endless error body", Reply::Raw("HTTP/1.1 404 Not Found\r\n\r\n").ThenEndlessly(filler)},
      {"endless interim replies", Reply::Raw("").ThenEndlessly("HTTP/1.1 100 Continue\r\n\r\n")},
      {"negative chunk size",
       Reply::Raw("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n-1\r\nabc\r\n0\r\n\r\n").KeepOpen()},
      {"chunk size not hexadecimal",
       Reply::Raw("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nabc\r\n0\r\n\r\n").KeepOpen()},
  };
  for (const auto& [what, reply] : cases) EXPECT_EQ(OutcomeOfReply(reply), hw::kReplyTooLarge) << what;
}

TEST(HttpBounds, ABodyAtItsBoundIsAccepted) {
  hw::HttpLimits limits;
  const std::string body(limits.bodyBytes, 'b');
  EXPECT_EQ(OutcomeOfReply(Reply::Raw("HTTP/1.0 200 OK\r\n\r\n" + body)).size(), body.size());
  EXPECT_EQ(OutcomeOfReply(Reply::Ok(body)).size(), body.size());
}

// A POST's head and its body leave in two writes, as the service's reading expects. A packet
// socket pair keeps each write apart where a TCP stream could join them.
TEST(HttpWire, PostHeadAndBodyAreTwoWrites) {
  int ends[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends), 0);
  std::vector<std::string> writes;
  std::thread service([&] {
    char packet[65536];
    for (int i = 0; i < 2; ++i) {
      const ssize_t n = ::recv(ends[1], packet, sizeof packet, 0);
      if (n <= 0) break;
      writes.emplace_back(packet, static_cast<std::size_t>(n));
    }
    const std::string reply = "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\n##";
    ::send(ends[1], reply.data(), reply.size(), MSG_NOSIGNAL);
    ::close(ends[1]);
  });
  hw::HttpClient client;
  client.SetConnector([&](const std::string&, int) { return ends[0]; });
  EXPECT_EQ(client.Post("http://service.test:17861/fo.php", "a=VEVw"), "##");
  service.join();
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_TRUE(writes[0].starts_with("POST /fo.php HTTP/1.0\r\n")) << writes[0];
  EXPECT_TRUE(writes[0].ends_with("\r\n\r\n")) << writes[0];
  EXPECT_EQ(writes[1], "a=VEVw");
}

}  // namespace
