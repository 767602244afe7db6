#pragma once
#include <cstdint>
#include <string>

namespace hw::service {

struct Account {
  std::string name;
  std::string passwordHash;  // libsodium's crypto_pwhash string: salted, slow
  std::string machineId;     // the machine the name is bound to
  std::string address;       // the last address a query came from (its records may hold others)
  std::int64_t updated = 0;  // when, in seconds of the service's clock
  std::string verifiedDigest{};  // of the password once verified (VerifiedPasswords); empty: none yet
};

}  // namespace hw::service
