#include "service/Exchange.h"

#include <sodium.h>

#include <algorithm>
#include <cstdio>
#include <thread>

#include "ddns/Envelope.h"
#include "service/ClientAddress.h"

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

Exchange::Exchange(AccountStore& accounts, bool fastHashes, const VerificationKey& key, FailureBudget budget)
    : accounts_(accounts),
      fastHashes_(fastHashes),
      limits_(budget),
      verified_(key),
      hashGate_(std::max(1u, std::thread::hardware_concurrency())) {
  if (sodium_init() < 0) throw std::runtime_error("the password hash library cannot start");
  standInHash_ = HashPassword("a password no account has");
}

template <typename Work>
auto Exchange::Hashing(Work work) {
  hashGate_.acquire();
  ++hashesInFlight_;
  const auto result = work();
  --hashesInFlight_;
  hashGate_.release();
  ++slowHashes_;
  return result;
}

std::string Exchange::HashPassword(const std::string& password) {
  char hash[crypto_pwhash_STRBYTES];
  const auto ops = fastHashes_ ? crypto_pwhash_OPSLIMIT_MIN : crypto_pwhash_OPSLIMIT_INTERACTIVE;
  const auto mem = fastHashes_ ? crypto_pwhash_MEMLIMIT_MIN : crypto_pwhash_MEMLIMIT_INTERACTIVE;
  const int made = Hashing([&] { return crypto_pwhash_str(hash, password.data(), password.size(), ops, mem); });
  if (made != 0) throw std::runtime_error("out of memory for the password hash");
  return hash;
}

Verdict Exchange::Verify(std::optional<Account>& account, const std::string& name, const std::string& password,
                         const std::string& address) {
  // A password verified before is right at the cost of a digest, also while the account is being
  // flooded with wrong guesses: the limits below hold back only the slow hash.
  if (account && verified_.Matches(account->verifiedDigest, account->passwordHash, password)) return Verdict::Right;
  const std::string source = ShareKeyOf(address);
  const std::string followed = account ? name : std::string();  // only real accounts have a budget
  const auto now = FailureLimits::Clock::now();
  if (!limits_.Take(followed, source, now)) {
    ++limitedAnswers_;
    return Verdict::Limited;
  }
  const std::string& hash = account ? account->passwordHash : standInHash_;
  const bool right =
      Hashing([&] { return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0; });
  if (!right || !account) return Verdict::Wrong;
  limits_.Refund(followed, source, now);
  account->verifiedDigest = verified_.DigestOf(account->passwordHash, password);
  accounts_.RememberVerified(*account, account->verifiedDigest);
  return Verdict::Right;
}

std::optional<Account> Exchange::FindAccount(const std::string& name) {
  // A name no account can have is never looked up: it is unknown (and costs what a known one does),
  // whatever bytes it holds, so no client text reaches a query that a database might refuse.
  if (!IsValidAccountName(name)) return std::nullopt;
  return accounts_.Find(name);
}

bool Exchange::NeedsSlowHash(const std::string& path, const std::string& body) {
  if (path == "/sj.php") return true;
  const auto fields = DecodeEnvelope(body);
  return fields && Dyndns2NeedsSlowHash(fields->name, fields->password);
}

bool Exchange::Dyndns2NeedsSlowHash(const std::string& user, const std::string& password) {
  const auto account = FindAccount(user);
  return !account || !verified_.Matches(account->verifiedDigest, account->passwordHash, password);
}

std::optional<std::string> Exchange::Register(const Query& query) {
  const auto fields = DecodeEnvelope(query.body);
  if (!fields || !IsValidMachineId(fields->machineId)) return std::nullopt;
  if (!IsValidAccountName(fields->name) || fields->password.size() < kMinPasswordBytes) return "%%";
  // A taken name costs no hash; each hash is charged to the address's budget, right or not, as every
  // registration is a new password.
  if (accounts_.IsTaken(fields->name)) return "%%";
  if (!limits_.Take({}, ShareKeyOf(query.address), FailureLimits::Clock::now())) {
    ++limitedAnswers_;
    return "%%";
  }
  const std::string hash = HashPassword(fields->password);
  const Account account{fields->name, hash, fields->machineId, query.address, query.now,
                        verified_.DigestOf(hash, fields->password)};  // registration counts as verification
  if (!accounts_.Create(account)) return "%%";
  return "##" + accounts_.HostName(fields->name) + " now points to " + query.address;
}

// The account a query's envelope names, when its password and machine fit; otherwise the reply that
// says which does not. Nothing at all when the body is no envelope.
std::optional<Exchange::Lookup> Exchange::Authorize(const Query& query) {
  const auto fields = DecodeEnvelope(query.body);
  if (!fields) return std::nullopt;
  auto account = FindAccount(fields->name);
  const Verdict verdict = Verify(account, fields->name, fields->password, query.address);
  if (verdict == Verdict::Limited) return Lookup{std::nullopt, "!!"};
  if (!account) return Lookup{std::nullopt, "@@"};
  if (verdict != Verdict::Right) return Lookup{std::nullopt, "!!"};
  if (account->machineId != fields->machineId) return Lookup{std::nullopt, "%%" + fields->name + Trailer(query.now)};
  return Lookup{account, {}};
}

std::optional<std::string> Exchange::Check(const Query& query) {
  const auto lookup = Authorize(query);
  if (!lookup || !lookup->account) return lookup ? std::optional(lookup->refusal) : std::nullopt;
  switch (accounts_.SetAddresses(*lookup->account, {query.address}, query.address, query.now)) {
    case AddressChange::AccountGone: return "@@";  // released while this check was verified
    case AddressChange::Changed: return "**" + query.address + Trailer(query.now);
    case AddressChange::Unchanged: break;
  }
  return "##" + query.address + Trailer(query.now);
}

std::optional<std::string> Exchange::CheckAtOnce(const Query& query) {
  const auto fields = DecodeEnvelope(query.body);
  if (!fields) return std::nullopt;
  const auto cached = accounts_.Cached(fields->name);
  if (!cached || cached->account.machineId != fields->machineId) return std::nullopt;
  const Account& account = cached->account;
  if (!verified_.Matches(account.verifiedDigest, account.passwordHash, fields->password)) return std::nullopt;
  const std::string record = RecordForm(query.address);
  if ((IsIpv6(record) ? cached->recordAaaa : cached->recordA) != record) return std::nullopt;
  accounts_.NoteSeen(account, query.address, query.now);
  checksAtOnce_.fetch_add(1, std::memory_order_relaxed);
  return "##" + query.address + Trailer(query.now);
}

std::optional<std::string> Exchange::Release(const Query& query) {
  const auto lookup = Authorize(query);
  if (!lookup || !lookup->account) return lookup ? std::optional(lookup->refusal) : std::nullopt;
  accounts_.Remove(*lookup->account);
  return "^^";
}

std::string Exchange::Dyndns2Update(const std::string& user, const std::string& password, const std::string& hostName,
                                    const std::vector<std::string>& addresses, const std::string& client,
                                    std::int64_t now) {
  if (hostName.empty()) return "notfqdn";
  auto account = FindAccount(user);
  if (Verify(account, user, password, client) != Verdict::Right) return "badauth";
  if (hostName != accounts_.HostName(account->name)) return "nohost";
  std::string applied;
  for (const std::string& address : addresses) applied += (applied.empty() ? "" : ",") + address;
  switch (accounts_.SetAddresses(*account, addresses, client, now)) {
    case AddressChange::AccountGone: return "badauth";
    case AddressChange::Changed: return "good " + applied;
    case AddressChange::Unchanged: break;
  }
  return "nochg " + applied;
}

}  // namespace hw::service
