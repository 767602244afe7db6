#include "service/HttpFront.h"

#include <arpa/inet.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>

#include "BuildConfig.h"
#include "common/Text.h"
#include "ddns/Base64.h"
#include "service/ClientAddress.h"

namespace hw::service {
namespace {

constexpr const char* kText = "text/plain";

std::optional<std::string> ReadBuild(const std::string& folder, const std::string& version) {
  // Versions are digits and dots: nothing else may reach the file system.
  if (version.empty() || version.find_first_not_of("0123456789.") != std::string::npos) return std::nullopt;
  std::ifstream in(std::filesystem::path(folder) / ("hostwarden" + version), std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

using Handler = std::optional<std::string> (Exchange::*)(const Query&);

void MountPost(httplib::Server& server, const char* path, Exchange& exchange, Handler handler,
               const ServiceClock& clock, const ServiceOptions& options) {
  server.Post(path,
              [&exchange, handler, &clock, &options](const httplib::Request& request, httplib::Response& response) {
                const Query query{request.body, ClientAddress(request, options.trustedProxy), clock.Now()};
                if (const auto reply = (exchange.*handler)(query)) {
                  response.set_content(*reply, kText);
                } else {
                  response.status = 400;
                  response.set_content(kBadEnvelope, kText);
                }
              });
}

// Only an address may go into a record, whatever a client sends as "myip".
bool IsIpAddress(const std::string& text) {
  unsigned char bytes[16];
  return ::inet_pton(AF_INET, text.c_str(), bytes) == 1 || ::inet_pton(AF_INET6, text.c_str(), bytes) == 1;
}

// "Basic <base64 of user:password>" as user and password; empty ones for anything else.
std::pair<std::string, std::string> BasicCredentials(const std::string& header) {
  if (!header.starts_with("Basic ") || (header.size() - 6) % 4 != 0) return {};
  const std::string pair = DecodeBase64(header.substr(6));
  const auto colon = pair.find(':');
  if (colon == std::string::npos) return {};
  return {pair.substr(0, colon), pair.substr(colon + 1)};
}

void LogRequest(const httplib::Request& request, const httplib::Response& response, const std::string& trustedProxy) {
  const std::string marker = response.body.substr(0, std::min<std::size_t>(response.body.size(), 2));
  std::fprintf(stderr, "hostwarden-service: %s %s %s %d %s\n", LogSafe(ClientAddress(request, trustedProxy)).c_str(),
               LogSafe(request.method).c_str(), LogSafe(request.path).c_str(), response.status,
               request.method == "POST" ? LogSafe(marker).c_str() : std::to_string(response.body.size()).c_str());
}

}  // namespace

std::string ClientAddress(const httplib::Request& request, const std::string& trustedProxy) {
  std::vector<std::string> forwarded;
  const auto [first, last] = request.headers.equal_range("X-Forwarded-For");  // every line of it
  for (auto line = first; line != last; ++line) forwarded.push_back(line->second);
  return ClientAddressOf(request.remote_addr, forwarded, trustedProxy);
}

void MountEndpoints(httplib::Server& server, Exchange& exchange, const ServiceClock& clock,
                    const ServiceOptions& options) {
  server.set_payload_max_length(kMaxBodyBytes);
  server.set_tcp_nodelay(true);  // the reply's head and body leave at once, not an acknowledgement apart
  server.set_read_timeout(kReadTimeoutSeconds, 0);
  server.set_write_timeout(kReadTimeoutSeconds, 0);
  server.set_keep_alive_timeout(kReadTimeoutSeconds);
  server.set_logger([&options](const httplib::Request& request, const httplib::Response& response) {
    LogRequest(request, response, options.trustedProxy);
  });
  server.Get("/now.php", [&clock](const httplib::Request&, httplib::Response& response) {
    response.set_content(clock.Reply(), kText);
  });
  const std::string version = options.offerVersion.empty() ? HW_BUILD_VERSION : options.offerVersion;
  server.Get("/",
             [version](const httplib::Request&, httplib::Response& response) { response.set_content(version, kText); });
  server.Get(R"(/hostwarden(.*))", [&options](const httplib::Request& request, httplib::Response& response) {
    if (const auto build = ReadBuild(options.buildsFolder, request.matches[1])) {
      response.set_content(*build, "application/octet-stream");
    } else {
      response.status = 404;
      response.set_content("No such build", kText);
    }
  });
  // The dyndns2 protocol: the account's name and password as basic authentication, the address in
  // "myip" or, without it, the one the request came from.
  server.Get(
      "/nic/update", [&exchange, &clock, &options](const httplib::Request& request, httplib::Response& response) {
        const auto [user, password] = BasicCredentials(request.get_header_value("Authorization"));
        const std::string myip = request.get_param_value("myip");
        const std::string client = ClientAddress(request, options.trustedProxy);
        const std::string address = IsIpAddress(myip) ? myip : client;
        response.set_content(
            exchange.Dyndns2Update(user, password, request.get_param_value("hostname"), address, client, clock.Now()),
            kText);
      });
  MountPost(server, "/sj.php", exchange, &Exchange::Register, clock, options);
  MountPost(server, "/fo.php", exchange, &Exchange::Check, clock, options);
  MountPost(server, "/lk.php", exchange, &Exchange::Release, clock, options);
}

}  // namespace hw::service
