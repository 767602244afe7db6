// The client's bytes on the wire and its failures, against a scripted fake service on loopback.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "common/AppError.h"
#include "ddns/HttpClient.h"
#include "fixtures/FakeService.h"

namespace {

using hwtest::FakeService;
using hwtest::Reply;

std::string Host(const FakeService& fake) { return "Host: 127.0.0.1:" + std::to_string(fake.port()) + "\r\n"; }

std::string FailureOf(hw::HttpClient& client, const std::string& url) {
  try {
    client.Get(url);
  } catch (const hw::TransportError& error) {
    return error.what();
  }
  return "(no failure)";
}

TEST(HttpWire, RequestsByteForByte) {
  FakeService fake;
  fake.Enqueue(Reply::Ok("2013\r\n6\r\n15\r\n8\r\n5\r\n9\r\n"));
  fake.Enqueue(Reply::Raw("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: keep-alive\r\n\r\n##").KeepOpen());
  fake.Enqueue(Reply::Ok("now"));
  hw::HttpClient client;
  EXPECT_EQ(client.Get(fake.url("/now.php")), "2013\r\n6\r\n15\r\n8\r\n5\r\n9\r\n");
  EXPECT_EQ(client.Post(fake.url("/fo.php"), "a=VEVw+/=="), "##");
  EXPECT_EQ(client.Get(fake.url("/now.php")), "now");

  const std::string tail = "Accept: text/html, */*\r\nUser-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n\r\n";
  const std::vector<std::string> expected{
      "GET /now.php HTTP/1.1\r\nContent-Type: text/html\r\n" + Host(fake) + tail,
      "POST /fo.php HTTP/1.0\r\nConnection: keep-alive\r\nContent-Type: application/x-www-form-urlencoded\r\n"
      "Content-Length: 10\r\n" + Host(fake) + tail + "a=VEVw+/==",
      "GET /now.php HTTP/1.1\r\nConnection: keep-alive\r\nContent-Type: application/x-www-form-urlencoded\r\n" +
          Host(fake) + tail,
  };
  EXPECT_EQ(fake.Requests(), expected);
  EXPECT_EQ(fake.ConnectionCount(), 2) << "the POST opens its own connection, the GET reuses the kept one";
}

TEST(HttpWire, PostKeepsItsConnectionOnlyWhenTheReplySaysKeepAlive) {
  struct Case {
    const char* connectionHeader;
    int connections;
  };
  for (const Case c : {Case{"Connection: keep-alive\r\n", 1}, Case{"Connection:  Keep-Alive \r\n", 1},
                       Case{"", 2}}) {
    FakeService fake;
    fake.Enqueue(Reply::Raw(std::string("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n") + c.connectionHeader +
                            "\r\n##").KeepOpen());
    fake.Enqueue(Reply::Ok("1"));
    fake.Enqueue(Reply::Ok("2"));
    hw::HttpClient client;
    client.Post(fake.url("/fo.php"), "a=");
    client.Get(fake.url("/now.php"));
    client.Get(fake.url("/now.php"));
    EXPECT_EQ(fake.ConnectionCount(), c.connections) << c.connectionHeader;
  }
}

struct BodyCase {
  const char* what;
  std::string reply;
  std::string body;
};

TEST(HttpWire, ReplyBodiesAccepted) {
  const BodyCase cases[] = {
      {"length", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", "hello"},
      {"short body before close", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhel", "hel"},
      {"no length: read to close", "HTTP/1.0 200 OK\r\n\r\nuntil the end", "until the end"},
      {"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nWiki\r\n5\r\npedia\r\n0\r\n\r\n",
       "Wikipedia"},
      {"204", "HTTP/1.1 204 No Content\r\n\r\n", ""},
      {"continue first", "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", "ok"},
      {"LF line ends", "HTTP/1.1 200 OK\nContent-Length: 2\n\nok", "ok"},
  };
  for (const BodyCase& c : cases) {
    FakeService fake;
    fake.Enqueue(Reply::Raw(c.reply));
    hw::HttpClient client;
    EXPECT_EQ(client.Get(fake.url("/")), c.body) << c.what;
  }
}

TEST(HttpWire, FailuresCarryTheirExactMessages) {
  const BodyCase cases[] = {
      {"redirect", "HTTP/1.1 302 Found\r\nLocation: http://elsewhere/\r\nContent-Length: 0\r\n\r\n",
       "HTTP/1.1 302 Found"},
      {"location on a 200", "HTTP/1.1 200 OK\r\nLocation: /x\r\nContent-Length: 0\r\n\r\n", "HTTP/1.1 200 OK"},
      {"not found", "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot here.", "HTTP/1.1 404 Not Found"},
      {"no number", "HTTP/1.1 abc\r\n\r\n", "HTTP/1.1 abc"},
      {"long header line", "HTTP/1.1 200 OK\r\nX-Long: " + std::string(17000, 'x') + "\r\n\r\n",
       "Max line length exceeded."},
      {"close before the status line", "HTTP/1.1 20", "Connection Closed Gracefully."},
      {"nothing at all", "", "Connection Closed Gracefully."},
      {"close inside the head", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n", "Undefined situation"},
  };
  for (const BodyCase& c : cases) {
    FakeService fake;
    fake.Enqueue(Reply::Raw(c.reply));
    hw::HttpClient client;
    EXPECT_EQ(FailureOf(client, fake.url("/now.php")), c.body) << c.what;
  }
}

TEST(HttpWire, RefusedPortAndUnknownHost) {
  int port = 0;
  {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    ::close(fd);  // bound, never listening: the port refuses
  }
  hw::HttpClient client;
  EXPECT_EQ(FailureOf(client, "http://127.0.0.1:" + std::to_string(port) + "/now.php"),
            "Socket Error # 10061\r\nConnection refused.");
  EXPECT_EQ(FailureOf(client, "http://bad..host:17861/now.php"), "Socket Error # 11001\r\nHost not found.");
}

TEST(HttpWire, CookiesComeBack) {
  FakeService fake;
  fake.Enqueue(Reply::Raw("HTTP/1.1 200 OK\r\nSet-Cookie: sid=42; path=/\r\nContent-Length: 0\r\n\r\n").KeepOpen());
  fake.Enqueue(Reply::Ok(""));
  hw::HttpClient client;
  client.Get(fake.url("/"));
  client.Get(fake.url("/"));
  EXPECT_NE(fake.Requests().at(1).find("\r\nCookie: sid=42\r\n\r\n"), std::string::npos) << fake.Requests().at(1);
}

TEST(HttpWaiting, PumpRunsWhileAReplyIsAwaitedAndANestedRequestGetsItsOwnConnection) {
  FakeService fake;
  auto gate = std::make_shared<hwtest::Gate>();
  fake.Enqueue(Reply::Ok("outer").After(gate));
  fake.Enqueue(Reply::Ok("nested"));
  int pumped = 0;
  std::string nestedReply;
  hw::HttpClient* self = nullptr;
  hw::HttpClient client([&] {
    if (++pumped == 1) nestedReply = self->Get(fake.url("/nested"));  // a handler run during the wait
    if (pumped == 2) fake.Open(*gate);
  });
  self = &client;
  EXPECT_EQ(client.Get(fake.url("/outer")), "outer");
  EXPECT_EQ(nestedReply, "nested");
  EXPECT_GE(pumped, 2);
  EXPECT_EQ(fake.ConnectionCount(), 2);
}

TEST(HttpWaiting, SilenceAndStalledErrorBodiesAreBounded) {
  FakeService fake;
  fake.Enqueue(Reply::Silent());
  fake.Enqueue(Reply::Raw("HTTP/1.1 500 Oops\r\nContent-Length: 100\r\n\r\npartial").KeepOpen());
  hw::HttpClient client;
  client.SetTimeouts(120000, 300, 300);
  EXPECT_EQ(FailureOf(client, fake.url("/silent")), "Read Timeout");
  EXPECT_EQ(FailureOf(client, fake.url("/stalls")), "Read Timeout");
}

}  // namespace
