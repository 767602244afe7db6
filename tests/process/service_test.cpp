// The reference service on loopback, spoken to with the client's own HTTP client and envelope, and
// the DNS server that serves its records.
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>

#include "BuildConfig.h"
#include "common/AppError.h"
#include "ddns/Base64.h"
#include "ddns/Envelope.h"
#include "ddns/HttpClient.h"
#include "ddns/MachineIdentity.h"
#include "fixtures/ChildProcess.h"
#include "fixtures/RunningService.h"
#include "fixtures/TempDir.h"
#include "fixtures/ScratchDatabase.h"
#include "service/SqlDatabase.h"
#include "settings/SettingsStore.h"

namespace {

using namespace std::chrono_literals;
using hwtest::RunningDns;
using hwtest::RunningService;

constexpr const char* kMachine = "0011223344AA";
constexpr const char* kOtherMachine = "00FFEEDDCCBB";

// One post of the client's, with its envelope: the reply, or the failure's message.
std::string Post(const RunningService& service, const char* path, const std::string& name, const std::string& password,
                 const std::string& machine) {
  hw::HttpClient client;
  try {
    return client.Post(service.url(path), hw::BuildEnvelope(name, password, machine));
  } catch (const hw::TransportError& error) {
    return error.Message();
  }
}

std::string Get(const RunningService& service, const char* path) {
  hw::HttpClient client;
  try {
    return client.Get(service.url(path));
  } catch (const hw::TransportError& error) {
    return error.Message();
  }
}

// A client at the given loopback address ("127.0.0.1", "127.0.0.2", "::1"), speaking to the service
// over that address's family.
httplib::Client ClientAt(int port, const std::string& from) {
  httplib::Client client(from.find(':') == std::string::npos ? "127.0.0.1" : "::1", port);
  client.set_interface(from);
  return client;
}

// A check of the account's (password "secret1") from that address, with the X-Forwarded-For line
// `forwarded` when one is given: the reply without its trailer.
std::string CheckFrom(int port, const std::string& from, const std::string& name, const std::string& forwarded = {}) {
  httplib::Headers headers;
  if (!forwarded.empty()) headers.emplace("X-Forwarded-For", forwarded);
  const auto result =
      ClientAt(port, from)
          .Post("/fo.php", headers, hw::BuildEnvelope(name, "secret1", kMachine), "application/x-www-form-urlencoded");
  if (!result) return "(no reply)";
  return result->body.size() > 7 ? result->body.substr(0, result->body.size() - 7) : result->body;
}

// A dyndns2 update from that address: the reply.
std::string Dyndns2From(int port, const std::string& from, const std::string& user, const std::string& password,
                        const std::string& query) {
  httplib::Client client = ClientAt(port, from);
  client.set_basic_auth(user.c_str(), password.c_str());
  const auto result = client.Get(("/nic/update?" + query).c_str());
  return result ? result->body : std::string("(no reply)");
}

class Service : public ::testing::Test {
 protected:
  hwtest::TempDir data;
  RunningService service{"sqlite:" + data.File("dns.db"), {"--trusted-proxy", "127.0.0.2"}};
};

// Every marker in its situation, in the order an account lives through them. The trailer is "-"
// and the service's time of day; its clock started at 10:00:00 a moment ago.
TEST_F(Service, EachPostAnswersWithItsMarker) {
  struct Step {
    const char* what;
    const char* path;
    const char* name;
    const char* password;
    const char* machine;
    std::string reply;  // up to the trailer
    bool trailer;
  };
  const Step steps[] = {
      {"register", "/sj.php", "alice", "secret1", kMachine, "##alice.hostwarden.test now points to 127.0.0.1", false},
      {"name taken", "/sj.php", "alice", "other12", kOtherMachine, "%%", false},
      {"name against the rules", "/sj.php", "Alice_1", "secret1", kMachine, "%%", false},
      {"password too short", "/sj.php", "bob", "12345", kMachine, "%%", false},
      {"check, address unchanged", "/fo.php", "alice", "secret1", kMachine, "##127.0.0.1", true},
      {"check from another machine", "/fo.php", "alice", "secret1", kOtherMachine, "%%alice", true},
      {"wrong password", "/fo.php", "alice", "secret2", kMachine, "!!", false},
      {"unknown account", "/fo.php", "nobody", "secret1", kMachine, "@@", false},
      {"release from another machine", "/lk.php", "alice", "secret1", kOtherMachine, "%%alice", true},
      {"release, wrong password", "/lk.php", "alice", "secret2", kMachine, "!!", false},
      {"release", "/lk.php", "alice", "secret1", kMachine, "^^", false},
      {"check after the release", "/fo.php", "alice", "secret1", kMachine, "@@", false},
      {"the name is free again", "/sj.php", "alice", "secret9", kOtherMachine,
       "##alice.hostwarden.test now points to 127.0.0.1", false},
  };
  for (const Step& step : steps) {
    const std::string reply = Post(service, step.path, step.name, step.password, step.machine);
    if (!step.trailer) {
      EXPECT_EQ(reply, step.reply) << step.what;
      continue;
    }
    ASSERT_EQ(reply.size(), step.reply.size() + 7) << step.what << ": " << reply;
    EXPECT_EQ(reply.substr(0, step.reply.size()), step.reply) << step.what;
    EXPECT_TRUE(reply.substr(step.reply.size()).starts_with("-1000")) << step.what << ": " << reply;
  }
  EXPECT_EQ(service.Log().find("secret"), std::string::npos) << "no password in the log";
}

// Behind the trusted reverse proxy the forwarded address counts; from anywhere else the header is
// not believed.
TEST_F(Service, AddressChangesAreSeenAndOnlyTheTrustedProxyMayForwardOne) {
  ASSERT_EQ(Post(service, "/sj.php", "carol", "secret1", kMachine).substr(0, 2), "##");
  const auto checkVia = [&](const char* from, const char* forwarded) {
    return CheckFrom(service.port(), from, "carol", forwarded);
  };
  EXPECT_EQ(checkVia("127.0.0.1", "198.51.100.1"), "##127.0.0.1") << "not the proxy: the peer counts";
  EXPECT_EQ(checkVia("127.0.0.2", "10.0.0.1, 203.0.113.9"), "**203.0.113.9");
  EXPECT_EQ(checkVia("127.0.0.2", "203.0.113.9"), "##203.0.113.9");
  // Through the proxy without a client's address: refused, as its own address is nobody's.
  httplib::Client proxy("127.0.0.1", service.port());
  proxy.set_interface("127.0.0.2");
  const auto refused = proxy.Post("/fo.php", {{"X-Forwarded-For", "unknown"}},
                                  hw::BuildEnvelope("carol", "secret1", kMachine), "application/x-www-form-urlencoded");
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->status, 400);
  EXPECT_EQ(refused->body, "No client address");
}

TEST_F(Service, ClockVersionAndBuilds) {
  std::filesystem::create_directories(service.folder().File("builds"));
  service.folder().Write("builds/hostwarden1.3.0.1", std::string("signed\0build", 12));
  const std::string clock = Get(service, "/now.php");
  EXPECT_TRUE(clock.starts_with("2013\r\n6\r\n15\r\n10\r\n0\r\n")) << clock;
  EXPECT_TRUE(clock.ends_with("\r\n"));
  EXPECT_EQ(Get(service, "/"), HW_BUILD_VERSION);
  EXPECT_EQ(Get(service, "/hostwarden1.3.0.1"), std::string("signed\0build", 12));
  EXPECT_EQ(Get(service, "/hostwarden9.9.9.9"), "HTTP/1.1 404 Not Found");
  EXPECT_EQ(Get(service, "/hostwarden..%2Fport"), "HTTP/1.1 404 Not Found");
}

// An apt repository's folder is served under /apt/ as apt asks for it: files only, by names of the
// repository's own kind; no folder listing, nothing outside the folder, no hidden file.
TEST(ServiceApt, ServesTheRepositoryAndNothingElse) {
  hwtest::TempDir data, repository;
  std::filesystem::create_directories(repository.File("dists/stable/main/binary-amd64"));
  std::filesystem::create_directories(repository.File("pool/main"));
  repository.Write("dists/stable/InRelease", "signed index");
  repository.Write("pool/main/hostwarden-daemon_1.3.0.1_amd64.deb", std::string("!<arch>\n\0", 9));
  repository.Write(".hidden", "secret");
  data.Write("outside", "secret");
  RunningService service("sqlite:" + data.File("dns.db"), {"--apt", repository.path()});
  const std::pair<const char*, std::string> cases[] = {
      {"/apt/dists/stable/InRelease", "signed index"},
      {"/apt/pool/main/hostwarden-daemon_1.3.0.1_amd64.deb", std::string("!<arch>\n\0", 9)},
      {"/apt/dists/stable/Release", "HTTP/1.1 404 Not Found"},
      {"/apt/dists/", "HTTP/1.1 404 Not Found"},
      {"/apt/dists/stable", "HTTP/1.1 404 Not Found"},
      {"/apt/.hidden", "HTTP/1.1 404 Not Found"},
      {"/apt/../outside", "HTTP/1.1 404 Not Found"},
      {"/apt/dists/../../outside", "HTTP/1.1 404 Not Found"},
      {"/apt/dists//stable/InRelease", "HTTP/1.1 404 Not Found"},
  };
  for (const auto& [path, expected] : cases) EXPECT_EQ(Get(service, path), expected) << path;
  RunningService without("sqlite:" + data.File("other.db"));
  EXPECT_EQ(Get(without, "/apt/dists/stable/InRelease"), "HTTP/1.1 404 Not Found") << "no repository given";
}

// Standard DDNS clients speak dyndns2: the account's name and password as basic authentication.
TEST_F(Service, Dyndns2UpdatesFromStandardClients) {
  ASSERT_EQ(Post(service, "/sj.php", "gina", "secret1", kMachine).substr(0, 2), "##");
  const auto update = [&](const std::string& user, const std::string& password, const std::string& query) {
    return Dyndns2From(service.port(), "127.0.0.1", user, password, query);
  };
  EXPECT_EQ(update("gina", "secret1", "hostname=gina.hostwarden.test&myip=198.51.100.7"), "good 198.51.100.7");
  EXPECT_EQ(update("gina", "secret1", "hostname=gina.hostwarden.test&myip=198.51.100.7"), "nochg 198.51.100.7");
  EXPECT_EQ(update("gina", "secret1", "hostname=gina.hostwarden.test"), "good 127.0.0.1") << "no myip: the peer";
  EXPECT_EQ(update("gina", "secret1", "hostname=gina.hostwarden.test&myip=not-an-address"), "nochg 127.0.0.1");
  EXPECT_EQ(update("gina", "wrong", "hostname=gina.hostwarden.test"), "badauth");
  EXPECT_EQ(update("nobody", "secret1", "hostname=nobody.hostwarden.test"), "badauth");
  EXPECT_EQ(update("gina", "secret1", "hostname=other.hostwarden.test"), "nohost");
  EXPECT_EQ(update("gina", "secret1", ""), "notfqdn");
  EXPECT_EQ(Post(service, "/fo.php", "gina", "secret1", kMachine).substr(0, 11), "##127.0.0.1");
}

// A loopback connection that is opened and then left: idle, or with half a request.
class IdleConnection {
 public:
  IdleConnection(int port, const std::string& sent) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    if (!sent.empty()) ::send(fd_, sent.data(), sent.size(), MSG_NOSIGNAL);
  }
  ~IdleConnection() { ::close(fd_); }

 private:
  int fd_;
};

// Whatever arrives, the service answers clearly or closes, and answers the next good request.
TEST_F(Service, BadInputGetsAClearAnswerAndTheServiceGoesOn) {
  struct Case {
    const char* what;
    std::string method;
    std::string path;
    std::string body;
    int status;
  };
  const Case cases[] = {
      {"not an envelope", "POST", "/fo.php", "a=junk", 400},
      {"no form at all", "POST", "/sj.php", "", 400},
      {"base64 of garbage", "POST", "/lk.php", "a=" + hw::EncodeBase64(hw::EncodeBase64("GDS\r\nx")), 400},
      {"envelope beyond its room", "POST", "/fo.php", "a=" + std::string(600, 'A'), 400},
      {"body beyond the limit", "POST", "/fo.php", std::string(100000, 'x'), 413},
      {"unknown path", "GET", "/admin.php", "", 404},
      {"query by GET", "GET", "/fo.php", "", 404},
      {"clock by POST", "POST", "/now.php", "a=", 404},
  };
  httplib::Client client("127.0.0.1", service.port());
  for (const Case& c : cases) {
    const auto result = c.method == "GET" ? client.Get(c.path.c_str())
                                          : client.Post(c.path.c_str(), c.body, "application/x-www-form-urlencoded");
    ASSERT_TRUE(result) << c.what;
    EXPECT_EQ(result->status, c.status) << c.what;
  }
  // More idle and half-sent connections than the service has workers: each is dropped after a few
  // seconds of silence, so a good request still gets through.
  std::vector<std::unique_ptr<IdleConnection>> idle;
  for (int i = 0; i < 12; ++i)
    idle.push_back(std::make_unique<IdleConnection>(service.port(), i % 2 ? "POST /fo.php HTTP/1.1\r\nConten" : ""));
  EXPECT_EQ(Post(service, "/sj.php", "dave", "secret1", kMachine).substr(0, 2), "##");
}

// The key=value pairs of a PostgreSQL connection string.
std::map<std::string, std::string> ConnectionFields(const std::string& connection) {
  std::map<std::string, std::string> fields;
  std::istringstream words(connection);
  for (std::string word; words >> word;) {
    const auto equals = word.find('=');
    if (equals != std::string::npos) fields[word.substr(0, equals)] = word.substr(equals + 1);
  }
  return fields;
}

struct Backend {
  std::string name;
  std::string database;               // for the service
  std::vector<std::string> powerDns;  // for PowerDNS
};

// The serial of the zone's SOA as a DNS server answers it.
std::uint64_t SerialSeenBy(const RunningDns& dns) {
  std::istringstream fields(dns.Ask("hostwarden.test", "SOA"));
  std::string skip;
  std::uint64_t serial = 0;
  fields >> skip >> skip >> serial;
  return serial;
}

// PowerDNS's answers for the host's A and AAAA records at once, and the zone's serial above `serial`
// after a change (the serial rises at most once a second, so it may follow a moment later). The
// serial it saw is returned.
std::uint64_t ExpectAnswers(const RunningDns& dns, const std::string& host, const char* a, const char* aaaa,
                            std::uint64_t serial, bool changed, const std::string& what) {
  EXPECT_EQ(dns.Ask(host), a) << what;
  EXPECT_EQ(dns.Ask(host, "AAAA"), aaaa) << what;
  if (changed) {
    EXPECT_TRUE(hwtest::WaitUntil([&] { return SerialSeenBy(dns) > serial; }, 10s)) << what;
  }
  return SerialSeenBy(dns);
}

// Register and check with the client's code, then over each family in turn, and ask PowerDNS: the A
// record follows the IPv4 checks, the AAAA record the IPv6 ones, and a check that changes a record
// raises the serial. Release, and the name is gone.
void ChecksKeepARecordAFamily(const RunningService& service, const RunningDns& dns, const std::string& backend) {
  const std::string host = "erin.hostwarden.test";
  EXPECT_EQ(dns.Ask(host), "NXDOMAIN") << backend;
  std::uint64_t serial = SerialSeenBy(dns);
  ASSERT_EQ(Post(service, "/sj.php", "erin", "secret1", kMachine).substr(0, 2), "##") << backend;
  EXPECT_EQ(Post(service, "/fo.php", "erin", "secret1", kMachine).substr(0, 11), "##127.0.0.1") << backend;
  struct Step {
    const char* what;
    const char* from;
    const char* forwarded;
    const char* reply;
    const char* a;
    const char* aaaa;
  };
  const Step steps[] = {
      {"registered over IPv4", "127.0.0.1", "", "##127.0.0.1", "127.0.0.1", ""},
      {"IPv6 beside it", "::1", "", "**::1", "127.0.0.1", "::1"},
      {"IPv4 again", "127.0.0.1", "", "##127.0.0.1", "127.0.0.1", "::1"},
      {"IPv6 again", "::1", "", "##::1", "127.0.0.1", "::1"},
      {"IPv4 moves", "127.0.0.2", "203.0.113.9", "**203.0.113.9", "203.0.113.9", "::1"},
      {"IPv6 moves", "127.0.0.2", "2001:db8::9", "**2001:db8::9", "203.0.113.9", "2001:db8::9"},
      {"IPv4 after the IPv6 move", "127.0.0.2", "203.0.113.9", "##203.0.113.9", "203.0.113.9", "2001:db8::9"},
  };
  for (const Step& step : steps) {
    const std::string reply = CheckFrom(service.port(), step.from, "erin", step.forwarded);
    EXPECT_EQ(reply, step.reply) << backend << ": " << step.what;
    const bool changed = reply.starts_with("**") || &step == &steps[0];  // the first follows the registration
    serial = ExpectAnswers(dns, host, step.a, step.aaaa, serial, changed, backend + ": " + step.what);
  }
  EXPECT_EQ(Post(service, "/lk.php", "erin", "secret1", kMachine), "^^") << backend;
  EXPECT_EQ(dns.Ask(host), "NXDOMAIN") << backend;
  EXPECT_EQ(dns.Ask(host, "AAAA"), "NXDOMAIN") << backend;
}

// dyndns2 names an address of each family, in "myip" and "myipv6" or as a pair in "myip": each goes
// into the record of its family; the reply names the addresses applied, IPv4 first, and says "good"
// when any record changed, which raises the serial.
void Dyndns2UpdatesEachFamily(const RunningService& service, const RunningDns& dns, const std::string& backend) {
  const std::string host = "ivan.hostwarden.test";
  ASSERT_EQ(Post(service, "/sj.php", "ivan", "secret1", kMachine).substr(0, 2), "##") << backend;
  struct Case {
    const char* from;
    const char* arguments;
    const char* reply;
    const char* a;
    const char* aaaa;
  };
  const Case cases[] = {
      {"127.0.0.1", "myip=198.51.100.7&myipv6=2001:db8::7", "good 198.51.100.7,2001:db8::7", "198.51.100.7",
       "2001:db8::7"},
      {"127.0.0.1", "myip=198.51.100.7&myipv6=2001:db8::7", "nochg 198.51.100.7,2001:db8::7", "198.51.100.7",
       "2001:db8::7"},
      {"127.0.0.1", "myip=198.51.100.7,2001:db8::7", "nochg 198.51.100.7,2001:db8::7", "198.51.100.7", "2001:db8::7"},
      {"127.0.0.1", "myip=198.51.100.8,2001:db8::7", "good 198.51.100.8,2001:db8::7", "198.51.100.8", "2001:db8::7"},
      {"127.0.0.1", "myip=2001:db8::8,198.51.100.8", "good 198.51.100.8,2001:db8::8", "198.51.100.8", "2001:db8::8"},
      {"127.0.0.1", "myip=198.51.100.9", "good 198.51.100.9", "198.51.100.9", "2001:db8::8"},
      {"127.0.0.1", "myipv6=2001:db8::9", "good 2001:db8::9", "198.51.100.9", "2001:db8::9"},
      {"127.0.0.1", "myip=not-an-address,2001:db8::9", "nochg 2001:db8::9", "198.51.100.9", "2001:db8::9"},
      {"127.0.0.1", "myip=::ffff:198.51.100.9", "nochg 198.51.100.9", "198.51.100.9", "2001:db8::9"},
      {"127.0.0.1", "myip=junk&myipv6=junk", "good 127.0.0.1", "127.0.0.1", "2001:db8::9"},
      {"::1", "", "good ::1", "127.0.0.1", "::1"},
  };
  std::uint64_t serial = SerialSeenBy(dns);
  for (const Case& c : cases) {
    const std::string query = "hostname=" + host + (*c.arguments ? "&" : "") + c.arguments;
    const std::string reply = Dyndns2From(service.port(), c.from, "ivan", "secret1", query);
    EXPECT_EQ(reply, c.reply) << backend << ": " << query;
    serial = ExpectAnswers(dns, host, c.a, c.aaaa, serial, reply.starts_with("good "), backend + ": " + query);
  }
}

// The same on the embedded SQLite file and on PostgreSQL, with the service listening on both
// families at once.
void DnsFollowsTheAccounts(const Backend& backend) {
  RunningService service(backend.database,
                         {"--listen", "[::]:0", "--trusted-proxy", "127.0.0.2", "--record-changes", "100"});
  RunningDns dns(backend.powerDns);
  ChecksKeepARecordAFamily(service, dns, backend.name);
  Dyndns2UpdatesEachFamily(service, dns, backend.name);
}

TEST(ServiceDns, OnTheEmbeddedSqliteFile) {
  hwtest::TempDir data;
  const std::string file = data.File("dns.db");
  DnsFollowsTheAccounts({"sqlite", "sqlite:" + file, {"--launch=gsqlite3", "--gsqlite3-database=" + file}});
}

TEST(ServiceDns, OnPostgresql) {
  HW_TEST_POSTGRES_OR_SKIP(server);
  // A database of its own: the accounts it registers must not meet those of another run.
  const hwtest::ScratchDatabase scratch(server, "hw_service_dns_");
  const std::string connection = scratch.connection();
  auto fields = ConnectionFields(connection);
  DnsFollowsTheAccounts({"postgresql",
                         connection,
                         {"--launch=gpgsql", "--gpgsql-host=" + fields["host"], "--gpgsql-port=" + fields["port"],
                          "--gpgsql-user=" + fields["user"], "--gpgsql-dbname=" + fields["dbname"]}});
}

// Names of any bytes, which a PostgreSQL database in UTF-8 refuses to compare, are unknown names like
// any other (and cost what a known one does): answered, and the service answers on.
TEST(ServiceDns, NamesOfAnyBytesAreUnknownOnPostgresql) {
  HW_TEST_POSTGRES_OR_SKIP(server);
  const hwtest::ScratchDatabase scratch(server, "hw_any_bytes_");
  RunningService service(scratch.connection());
  const std::string name = std::string("\xff\xfe") + "-not-utf8";
  EXPECT_EQ(Post(service, "/fo.php", name, "secret1", kMachine), "@@");
  EXPECT_EQ(Dyndns2From(service.port(), "127.0.0.1", name, "secret1", "hostname=x.hostwarden.test"), "badauth");
  EXPECT_EQ(Post(service, "/sj.php", "nina", "secret1", kMachine).substr(0, 2), "##") << "the service answers on";
}

// Two instances of the service and two PowerDNS servers on one PostgreSQL database: a change made
// through either instance shows in both DNS servers at once, and raises the serial.
TEST(ServiceDns, TwoInstancesAndTwoDnsServersOnOnePostgresqlDatabase) {
  HW_TEST_POSTGRES_OR_SKIP(server);
  const hwtest::ScratchDatabase scratch(server, "hw_two_instances_");
  const std::string connection = scratch.connection();
  {
    auto fields = ConnectionFields(connection);
    const std::vector<std::string> backend = {"--launch=gpgsql", "--gpgsql-host=" + fields["host"],
                                              "--gpgsql-port=" + fields["port"], "--gpgsql-user=" + fields["user"],
                                              "--gpgsql-dbname=" + fields["dbname"]};
    RunningService first(connection), second(connection, {"--trusted-proxy", "127.0.0.2"});
    RunningDns one(backend), other(backend);
    std::uint64_t serial = SerialSeenBy(one);
    const auto seenByBoth = [&](const std::string& answer, const char* what) {
      for (const RunningDns* dns : {&one, &other}) {
        EXPECT_EQ(dns->Ask("hana.hostwarden.test"), answer) << what;
        EXPECT_TRUE(hwtest::WaitUntil([&] { return SerialSeenBy(*dns) > serial; }, 10s)) << what;
      }
      serial = SerialSeenBy(one);
    };
    ASSERT_EQ(Post(first, "/sj.php", "hana", "secret1", kMachine).substr(0, 2), "##");
    seenByBoth("127.0.0.1", "registered through the first");
    ASSERT_EQ(CheckFrom(second.port(), "127.0.0.2", "hana", "203.0.113.9"), "**203.0.113.9");
    seenByBoth("203.0.113.9", "checked through the second");
    EXPECT_EQ(Post(first, "/lk.php", "hana", "secret1", kMachine), "^^");
    seenByBoth("NXDOMAIN", "released through the first");
  }
}

// The real client, built for tests, against the real service: its start-up sends the first check
// and logs the reply.
TEST(ClientAndService, FirstCheckOfARegisteredClient) {
  const std::string machine = hw::GetMachineId();
  if (machine.empty()) GTEST_SKIP() << "this machine has no network adapter to be identified by";
  hwtest::TempDir data;
  RunningService service("sqlite:" + data.File("dns.db"));
  ASSERT_EQ(Post(service, "/sj.php", "frank", "secret1", machine).substr(0, 2), "##");
  hw::SetSettingsFile(data.File("settings.db"));
  {
    hw::SettingsAccess settings;
    ASSERT_TRUE(settings.OpenSettings(true));
    settings.WriteText("username", "frank");
    settings.WriteText("password", hw::EncodeBase64("secret1"));
    settings.WriteFlag("REG", true);
  }
  hwtest::TempDir runtime;
  hwtest::ChildProcess client(std::string(HW_PROGRAM_DIR) + "/Hostwarden", data.path(),
                              {{"QT_QPA_PLATFORM", "offscreen"},
                               {"XDG_RUNTIME_DIR", runtime.path()},
                               {"HOSTWARDEN_TEST_SETTINGS_DB", data.File("settings.db")},
                               {"HOSTWARDEN_TEST_SERVICE_HOST", service.prefix()},
                               {"HOSTWARDEN_TEST_TRACE", data.File("trace")},
                               {"LC_ALL", "en_US.UTF-8"}},
                              {}, data.File("client.log"));
  EXPECT_TRUE(hwtest::WaitUntil(
      [&] {
        return hwtest::ReadFileText(data.File("client.log"))
                   .find("[Saturday 10:00] Host name updated; it now points to 127.0.0.1.") != std::string::npos;
      },
      60s))
      << hwtest::ReadFileText(data.File("client.log"));
  // Neither the password nor the envelope that carries it shows anywhere a person or a tool reads.
  const std::string envelope = hw::BuildEnvelope("frank", "secret1", machine);
  for (const std::string& written :
       {hwtest::ReadFileText(data.File("client.log")), hwtest::ReadFileText(data.File("trace")), service.Log()}) {
    EXPECT_EQ(written.find("secret1"), std::string::npos);
    EXPECT_EQ(written.find(envelope.substr(2, 20)), std::string::npos);
  }
  hw::SetSettingsFile({});
}

// A counter on a service's metrics page ("hostwarden_password_hashes"): -1 when there is none.
int CounterOf(const RunningService& service, const std::string& name) {
  const std::string page = service.Metrics(), line = "\n" + name + "_total ";
  const auto found = page.find(line);
  return found == std::string::npos ? -1 : std::stoi(page.substr(found + line.size()));
}

// An owner verified once passes without a slow hash through another instance and after a restart,
// as long as the service has its key file (made on first start, private to its user), and from
// memory from the first check on; a copy of the database without it verifies nothing by digest. A
// key file that holds no key stops the start.
TEST(ServiceKey, VerifiedOwnersNeedNoHashAfterARestartOrThroughAnotherInstance) {
  hwtest::TempDir data;
  const std::string database = "sqlite:" + data.File("dns.db"), key = data.File("service.key");
  {
    RunningService first(database, {"--key-file", key});
    ASSERT_EQ(Post(first, "/sj.php", "kate", "secret1", kMachine).substr(0, 2), "##");
  }
  EXPECT_EQ(std::filesystem::file_size(key), 32u);
  EXPECT_EQ(std::filesystem::status(key).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  struct Case {
    std::vector<std::string> arguments;
    int hashes, fromMemory;
  };
  const Case cases[] = {{{"--key-file", key}, 0, 1}, {{}, 1, 0}};
  for (const Case& c : cases) {
    RunningService restarted(database, c.arguments);
    const int before = CounterOf(restarted, "hostwarden_password_hashes");  // the stand-in hash, made at start
    EXPECT_EQ(Post(restarted, "/fo.php", "kate", "secret1", kMachine).substr(0, 2), "##");
    const char* what = c.hashes ? "without the key" : "with the key";
    EXPECT_EQ(CounterOf(restarted, "hostwarden_password_hashes") - before, c.hashes) << what;
    EXPECT_EQ(CounterOf(restarted, "hostwarden_checks_from_memory"), c.fromMemory) << what;
  }
  std::ofstream(data.File("short.key")) << "not a key";
  hwtest::ChildProcess refused(hwtest::ServiceProgram(), data.path(), {},
                               {"--database", database, "--key-file", data.File("short.key"), "--metrics-listen", "none",
                                "--listen", "127.0.0.1:0"},
                               data.File("refused.log"));
  EXPECT_EQ(refused.WaitForExit(std::chrono::seconds(10)), 1);
  EXPECT_NE(hwtest::ReadFileText(data.File("refused.log")).find("the key file " + data.File("short.key") +
                                                                  " does not hold a key of this service (32 bytes)"),
            std::string::npos)
      << hwtest::ReadFileText(data.File("refused.log"));
}

// Someone else's guesses never lock an owner out, not even before its first check (its registration
// verified the password), and a flood of registrations of a taken name costs no hash at all.
TEST(ServiceLimits, GuessesAndRegistrationFloodsCostTheOwnerNothing) {
  hwtest::TempDir data;
  RunningService service("sqlite:" + data.File("dns.db"));
  ASSERT_EQ(Post(service, "/sj.php", "lena", "secret1", kMachine).substr(0, 2), "##");
  ASSERT_EQ(Post(service, "/sj.php", "mona", "secret1", kOtherMachine).substr(0, 2), "##");
  const auto post = [&](const std::string& from, const char* path, const std::string& name, const char* password) {
    const auto result = ClientAt(service.port(), from)
                            .Post(path, hw::BuildEnvelope(name, password, kMachine), "application/x-www-form-urlencoded");
    return result ? result->body.substr(0, 2) : std::string("(no reply)");
  };
  for (int guess = 0; guess < 20; ++guess) EXPECT_EQ(post("127.0.0.3", "/fo.php", "lena", "guess!!"), "!!");
  EXPECT_EQ(post("127.0.0.1", "/fo.php", "lena", "secret1"), "##") << "the owner, after 20 wrong guesses";
  const int hashes = CounterOf(service, "hostwarden_password_hashes");
  for (int attempt = 0; attempt < 50; ++attempt)
    EXPECT_EQ(post("127.0.0." + std::to_string(10 + attempt % 5), "/sj.php", "lena", "other!!"), "%%");
  EXPECT_EQ(CounterOf(service, "hostwarden_password_hashes"), hashes) << "a taken name is refused before any hash";
  EXPECT_EQ(Post(service, "/fo.php", "mona", "secret1", kOtherMachine).substr(0, 2), "##") << "another owner's first check";
}

// --help is a question, not an option without its value: the usage on standard output, exit 0. A
// wrong option still gets the usage on standard error and exit 2.
TEST(ServiceCommandLine, HelpPrintsTheUsageAndEndsWell) {
  hwtest::TempDir folder;
  struct Case {
    std::vector<std::string> arguments;
    int status;
  };
  const Case cases[] = {{{"--help"}, 0}, {{"-h"}, 0}, {{"--listen"}, 2}, {{"--bogus", "1"}, 2}};
  for (const Case& c : cases) {
    const std::string output = folder.File("output");
    hwtest::ChildProcess service(hwtest::ServiceProgram(), folder.path(), {}, c.arguments, output);
    EXPECT_EQ(service.WaitForExit(std::chrono::seconds(10)), c.status) << c.arguments[0];
    const std::string text = hwtest::ReadFileText(output);
    EXPECT_NE(text.find("usage: hostwarden-service "), std::string::npos) << c.arguments[0] << ": " << text;
    EXPECT_TRUE(!text.empty() && text.back() == '\n') << c.arguments[0];
  }
}

}  // namespace
