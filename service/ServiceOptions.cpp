#include "service/ServiceOptions.h"

#include <charconv>
#include <map>

namespace hw::service {
namespace {

// "host:port" or "[v6-host]:port".
bool SplitListen(const std::string& text, std::string& hostOut, int& portOut) {
  const auto colon = text.rfind(':');
  if (colon == std::string::npos) return false;
  std::string host = text.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  int port = -1;
  const char* digits = text.data() + colon + 1;
  const auto [end, error] = std::from_chars(digits, text.data() + text.size(), port);
  if (host.empty() || error != std::errc() || end != text.data() + text.size() || port < 0 || port > 65535)
    return false;
  hostOut = host;
  portOut = port;
  return true;
}

// A count above 0, into `out`; false for anything else.
bool ParseCount(const std::string& text, unsigned& out) {
  unsigned count = 0;
  const auto [end, failed] = std::from_chars(text.data(), text.data() + text.size(), count);
  if (failed != std::errc() || end != text.data() + text.size() || count == 0) return false;
  out = count;
  return true;
}

}  // namespace

std::optional<ServiceOptions> ParseServiceOptions(const std::vector<std::string>& arguments, std::string& error) {
  ServiceOptions options;
  const std::map<std::string, std::string*> values = {
      {"--port-file", &options.portFile},     {"--database", &options.database},
      {"--pdns-schema", &options.pdnsSchema}, {"--domain-suffix", &options.domainSuffix},
      {"--clock-start", &options.clockStart}, {"--offer-version", &options.offerVersion},
      {"--builds", &options.buildsFolder},    {"--apt", &options.aptFolder},    {"--trusted-proxy", &options.trustedProxy},
      {"--metrics-port-file", &options.metricsPortFile}, {"--tls-cert", &options.tlsCertificate},
      {"--tls-key", &options.tlsKey},         {"--key-file", &options.keyFile},
  };
  const std::map<std::string, bool*> flags = {{"--adopt-zone", &options.adoptZone}};
  for (std::size_t i = 0; i < arguments.size(); i += 2) {
    while (flags.contains(arguments[i])) {  // a flag takes no value
      *flags.at(arguments[i]) = true;
      if (++i == arguments.size()) return options;
    }
    const std::string& name = arguments[i];
    if (i + 1 >= arguments.size()) {
      error = name + " needs a value";
      return std::nullopt;
    }
    const std::string& value = arguments[i + 1];
    const std::map<std::string, unsigned*> counts = {{"--max-per-address", &options.perAddress},
                                                     {"--reload-drain", &options.reloadDrainSeconds},
                                                     {"--record-changes", &options.recordChanges}};
    if (const auto count = counts.find(name); count != counts.end()) {
      if (!ParseCount(value, *count->second)) {
        error = name + " takes a number above 0, not " + value;
        return std::nullopt;
      }
    } else if (name == "--listen") {
      if (!SplitListen(value, options.host, options.port)) {
        error = "--listen takes host:port, not " + value;
        return std::nullopt;
      }
    } else if (name == "--metrics-listen") {
      if (value == "none") {
        options.metricsHost.clear();
      } else if (!SplitListen(value, options.metricsHost, options.metricsPort)) {
        error = "--metrics-listen takes host:port or none, not " + value;
        return std::nullopt;
      }
    } else if (const auto found = values.find(name); found != values.end()) {
      *found->second = value;
    } else {
      error = "unknown option " + name;
      return std::nullopt;
    }
  }
  if (options.tlsCertificate.empty() != options.tlsKey.empty()) {
    error = "--tls-cert and --tls-key go together";
    return std::nullopt;
  }
  return options;
}

std::string DefaultKeyFile(const std::string& database) {
  const std::string file = database.starts_with("sqlite:") ? database.substr(7) : std::string();
  return file.empty() || file == ":memory:" ? "hostwarden-service.key" : file + ".key";
}

std::string ServiceUsage() {
  return "usage: hostwarden-service [--listen HOST:PORT] [--port-file FILE] [--database sqlite:FILE|POSTGRESQL]\n"
         "       [--key-file FILE] [--pdns-schema FILE] [--domain-suffix .ZONE] [--clock-start 'YYYY-MM-DD HH:MM:SS']\n"
         "       [--offer-version A.B.C.D] [--builds FOLDER] [--apt FOLDER] [--trusted-proxy ADDRESS] [--adopt-zone]\n"
         "       [--max-per-address N] [--metrics-listen HOST:PORT|none] [--metrics-port-file FILE]\n"
         "       [--tls-cert FILE --tls-key FILE] [--reload-drain SECONDS] [--record-changes N]\n";
}

}  // namespace hw::service
