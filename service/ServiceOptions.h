#pragma once
#include <optional>
#include <string>
#include <vector>

namespace hw::service {

// How the service runs; every value has a default that suits a demonstration on one machine.
struct ServiceOptions {
  std::string host = "127.0.0.1";
  int port = 17861;      // 0: any free port (see portFile)
  std::string portFile;  // where the port actually used is written once listening
  std::string database = "sqlite:hostwarden-service.db";
  std::string keyFile;  // the key of the verified-password digests; empty: DefaultKeyFile
  std::string pdnsSchema;  // empty: the DNS server's backend package's schema
  std::string domainSuffix = ".hostwarden.test";
  std::string clockStart;    // empty: the real time
  std::string offerVersion;  // empty: this project's version
  std::string buildsFolder = "builds";
  std::string aptFolder;  // an apt repository served under /apt/; empty: none
  std::string trustedProxy;  // a reverse proxy whose X-Forwarded-For is believed
  bool adoptZone = false;
  unsigned perAddress = 64;  // connections at once from one client address
  unsigned reloadDrainSeconds = 30;
  unsigned recordChanges = 4;  // record changes per account at once, and then this many a minute  // how long a certificate reload lets the old daemon serve on
  std::string metricsHost = "127.0.0.1";  // empty: no metrics page
  int metricsPort = 17862;
  std::string metricsPortFile;
  std::string tlsCertificate;  // PEM files; both given: HTTPS, read again on SIGHUP
  std::string tlsKey;    // work in a zone that the service did not make (its records stay untouched)
};

// The options from the command line ("--listen 127.0.0.1:17861", "--database ...", ...); nothing,
// with `error` set, for an unknown option or a missing value.
std::optional<ServiceOptions> ParseServiceOptions(const std::vector<std::string>& arguments, std::string& error);

// Where the key of the verified-password digests lives unless --key-file says: beside an SQLite
// database ("<file>.key"), else "hostwarden-service.key" in the working directory.
std::string DefaultKeyFile(const std::string& database);

// The usage text.
std::string ServiceUsage();

}  // namespace hw::service
