#pragma once
#include <array>
#include <string>

namespace hw::service {

// The service's secret for the digests of verified passwords (see VerifiedPasswords). It lives in a
// file of the service's state, never in the database: whoever holds a copy of the database without
// it can test no password faster than the stored slow hash allows. Every instance on one database
// reads the same file.
using VerificationKey = std::array<unsigned char, 32>;

// The key in `file`; when there is no such file, a new random one is made there (mode 0600). Two
// instances starting at once end with the same key: the file appears whole under its name or not at
// all. Throws std::runtime_error naming the file when it cannot be read or made, or does not hold
// exactly one key.
VerificationKey LoadOrMakeKey(const std::string& file);

}  // namespace hw::service
