#pragma once
#include <sodium.h>

#include <array>
#include <mutex>
#include <string>
#include <unordered_map>

namespace hw::service {

// The passwords that have been verified against an account's slow hash since the service started,
// kept in memory only as a keyed fast digest (the key is random and never leaves the process), so
// that a client's ten-minute check costs a digest instead of the slow hash. The digest covers the
// account's stored hash as well: a new password (a new hash) never matches an old entry. A wrong
// password never enters.
class VerifiedPasswords {
 public:
  VerifiedPasswords();

  bool Matches(const std::string& name, const std::string& storedHash, const std::string& password) const;
  void Remember(const std::string& name, const std::string& storedHash, const std::string& password);
  void Forget(const std::string& name);

 private:
  using Digest = std::array<unsigned char, crypto_generichash_BYTES>;
  Digest DigestOf(const std::string& storedHash, const std::string& password) const;

  std::array<unsigned char, crypto_generichash_KEYBYTES> key_{};
  mutable std::mutex mutex_;
  std::unordered_map<std::string, Digest> digests_;
};

}  // namespace hw::service
