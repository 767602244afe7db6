#include "service/Exchange.h"

#include <sodium.h>

#include <algorithm>
#include <cstdio>

#include "ddns/Envelope.h"

namespace hw::service {
namespace {

constexpr std::size_t kMinPasswordBytes = 6;

std::string Trailer(std::int64_t now) {
  const std::int64_t secondsOfDay = ((now % 86400) + 86400) % 86400;
  char text[8];
  std::snprintf(text, sizeof text, "-%02d%02d%02d", static_cast<int>(secondsOfDay / 3600),
                static_cast<int>(secondsOfDay / 60 % 60), static_cast<int>(secondsOfDay % 60));
  return text;
}

}  // namespace

bool IsValidAccountName(const std::string& name) {
  const bool allowed = std::all_of(name.begin(), name.end(),
                                   [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'; });
  return allowed && name.size() >= 3 && name.size() <= 16 && name.front() != '-' && name.back() != '-';
}

bool IsValidMachineId(const std::string& machineId) {
  return machineId.size() == 12 && std::all_of(machineId.begin(), machineId.end(),
                                               [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
}

Exchange::Exchange(AccountStore& accounts, bool fastHashes) : accounts_(accounts), fastHashes_(fastHashes) {
  if (sodium_init() < 0) throw std::runtime_error("the password hash library cannot start");
}

std::string Exchange::HashPassword(const std::string& password) const {
  char hash[crypto_pwhash_STRBYTES];
  const auto ops = fastHashes_ ? crypto_pwhash_OPSLIMIT_MIN : crypto_pwhash_OPSLIMIT_INTERACTIVE;
  const auto mem = fastHashes_ ? crypto_pwhash_MEMLIMIT_MIN : crypto_pwhash_MEMLIMIT_INTERACTIVE;
  if (crypto_pwhash_str(hash, password.data(), password.size(), ops, mem) != 0)
    throw std::runtime_error("out of memory for the password hash");
  return hash;
}

bool Exchange::PasswordMatches(const std::string& hash, const std::string& password) const {
  return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

std::optional<std::string> Exchange::Register(const Query& query) {
  const auto fields = DecodeEnvelope(query.body);
  if (!fields || !IsValidMachineId(fields->machineId)) return std::nullopt;
  if (!IsValidAccountName(fields->name) || fields->password.size() < kMinPasswordBytes) return "%%";
  const Account account{fields->name, HashPassword(fields->password), fields->machineId, query.address, query.now};
  if (!accounts_.Create(account)) return "%%";
  return "##" + accounts_.HostName(fields->name) + " now points to " + query.address;
}

// The account a query's envelope names, when its password and machine fit; otherwise the reply that
// says which does not. Nothing at all when the body is no envelope.
std::optional<Exchange::Lookup> Exchange::Authorize(const Query& query) {
  const auto fields = DecodeEnvelope(query.body);
  if (!fields) return std::nullopt;
  const auto account = accounts_.Find(fields->name);
  if (!account) return Lookup{std::nullopt, "@@"};
  if (!PasswordMatches(account->passwordHash, fields->password)) return Lookup{std::nullopt, "!!"};
  if (account->machineId != fields->machineId) return Lookup{std::nullopt, "%%" + fields->name + Trailer(query.now)};
  return Lookup{account, {}};
}

std::optional<std::string> Exchange::Check(const Query& query) {
  const auto lookup = Authorize(query);
  if (!lookup || !lookup->account) return lookup ? std::optional(lookup->refusal) : std::nullopt;
  const bool changed = accounts_.SetAddress(lookup->account->name, query.address, query.now);
  return (changed ? "**" : "##") + query.address + Trailer(query.now);
}

std::optional<std::string> Exchange::Release(const Query& query) {
  const auto lookup = Authorize(query);
  if (!lookup || !lookup->account) return lookup ? std::optional(lookup->refusal) : std::nullopt;
  accounts_.Remove(lookup->account->name);
  return "^^";
}

std::string Exchange::Dyndns2Update(const std::string& user, const std::string& password, const std::string& hostName,
                                    const std::string& address, std::int64_t now) {
  if (hostName.empty()) return "notfqdn";
  const auto account = accounts_.Find(user);
  if (!account || !PasswordMatches(account->passwordHash, password)) return "badauth";
  if (hostName != accounts_.HostName(account->name)) return "nohost";
  return (accounts_.SetAddress(account->name, address, now) ? "good " : "nochg ") + address;
}

}  // namespace hw::service
