#include "service/VerifiedPasswords.h"

#include <sodium.h>

#include <array>

namespace hw::service {

std::string VerifiedPasswords::DigestOf(const std::string& storedHash, const std::string& password) const {
  // The stored hash is a NUL-free text of fixed form, so the NUL keeps the two parts apart.
  const std::string message = storedHash + '\0' + password;
  std::array<unsigned char, crypto_generichash_BYTES> digest{};
  crypto_generichash(digest.data(), digest.size(), reinterpret_cast<const unsigned char*>(message.data()),
                     message.size(), key_.data(), key_.size());
  std::string hex(digest.size() * 2 + 1, '\0');
  sodium_bin2hex(hex.data(), hex.size(), digest.data(), digest.size());
  hex.pop_back();
  return hex;
}

bool VerifiedPasswords::Matches(const std::string& digest, const std::string& storedHash,
                                const std::string& password) const {
  const std::string offered = DigestOf(storedHash, password);
  return digest.size() == offered.size() && sodium_memcmp(digest.data(), offered.data(), offered.size()) == 0;
}

}  // namespace hw::service
