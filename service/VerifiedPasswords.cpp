#include "service/VerifiedPasswords.h"

#include <stdexcept>

namespace hw::service {

VerifiedPasswords::VerifiedPasswords() {
  if (sodium_init() < 0) throw std::runtime_error("the password hash library cannot start");
  crypto_generichash_keygen(key_.data());
}

VerifiedPasswords::Digest VerifiedPasswords::DigestOf(const std::string& storedHash, const std::string& password) const {
  // The stored hash is a NUL-free text of fixed form, so the NUL keeps the two parts apart.
  const std::string message = storedHash + '\0' + password;
  Digest digest{};
  crypto_generichash(digest.data(), digest.size(), reinterpret_cast<const unsigned char*>(message.data()),
                     message.size(), key_.data(), key_.size());
  return digest;
}

bool VerifiedPasswords::Matches(const std::string& name, const std::string& storedHash,
                                const std::string& password) const {
  const Digest offered = DigestOf(storedHash, password);
  const std::lock_guard lock(mutex_);
  const auto found = digests_.find(name);
  return found != digests_.end() && sodium_memcmp(found->second.data(), offered.data(), offered.size()) == 0;
}

void VerifiedPasswords::Remember(const std::string& name, const std::string& storedHash, const std::string& password) {
  const Digest digest = DigestOf(storedHash, password);
  const std::lock_guard lock(mutex_);
  digests_[name] = digest;
}

void VerifiedPasswords::Forget(const std::string& name) {
  const std::lock_guard lock(mutex_);
  digests_.erase(name);
}

}  // namespace hw::service
