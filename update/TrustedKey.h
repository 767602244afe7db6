#pragma once
#include <string>

namespace hw {

// The Ed25519 public key (32 bytes) whose builds the client and the updater take: the build value,
// or the one a test build was given. Empty when none is built in: then no build is ever taken.
std::string TrustedUpdateKey();
// Trusts the key given as hexadecimal text instead (tests); the empty text returns to the build value.
void SetTrustedUpdateKey(std::string hex);

}  // namespace hw
