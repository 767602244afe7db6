#pragma once
#include <string>

#include "service/VerificationKey.h"

namespace hw::service {

// How a password verified once against an account's slow hash is recognised afterwards, by every
// instance and after a restart, at the cost of a digest: a keyed BLAKE2b digest of the account's
// stored hash and the password, kept in the database beside the account. Without the key (a file
// of the service's, never in the database) the digest tests no password. As it covers the stored
// hash too, a new password (a new hash) never matches an old digest. A wrong password never gets
// one.
class VerifiedPasswords {
 public:
  explicit VerifiedPasswords(const VerificationKey& key) : key_(key) {}

  // The digest, as hexadecimal text.
  std::string DigestOf(const std::string& storedHash, const std::string& password) const;
  // Whether `digest` is the one of this stored hash and password.
  bool Matches(const std::string& digest, const std::string& storedHash, const std::string& password) const;

 private:
  VerificationKey key_;
};

}  // namespace hw::service
