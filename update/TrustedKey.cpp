#include "update/TrustedKey.h"

#include "BuildConfig.h"
#include "update/SignedBuild.h"

namespace hw {
namespace {

std::string& KeyOverride() {
  static std::string hex;
  return hex;
}

}  // namespace

std::string TrustedUpdateKey() {
  const std::string& hex = KeyOverride().empty() ? std::string(build::kUpdatePublicKey) : KeyOverride();
  const std::string key = BytesOfHex(hex).value_or("");
  return key.size() == kPublicKeyBytes ? key : std::string();
}

void SetTrustedUpdateKey(std::string hex) { KeyOverride() = std::move(hex); }

}  // namespace hw
