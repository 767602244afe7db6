#include "update/SignedBuild.h"

#include <dlfcn.h>
#include <sodium.h>

#include <cstdint>
#include <stdexcept>

#include "platform/LibrarySymbol.h"

namespace hw {
namespace {

// The signature library, loaded at the first signature rather than at start-up (a client waiting in
// the tray checks one build in a long while) and kept for the program's life.
struct SodiumLibrary {
  decltype(&::sodium_init) init = nullptr;
  decltype(&::sodium_memzero) memzero = nullptr;
  decltype(&::crypto_sign_keypair) keypair = nullptr;
  decltype(&::crypto_sign_detached) signDetached = nullptr;
  decltype(&::crypto_sign_verify_detached) verifyDetached = nullptr;
};

std::optional<SodiumLibrary> LoadSodium() {
  void* library = ::dlopen("libsodium.so.23", RTLD_NOW | RTLD_LOCAL);
  SodiumLibrary sodium;
  if (!library || !ResolveSymbol(library, "sodium_init", sodium.init) ||
      !ResolveSymbol(library, "sodium_memzero", sodium.memzero) ||
      !ResolveSymbol(library, "crypto_sign_keypair", sodium.keypair) ||
      !ResolveSymbol(library, "crypto_sign_detached", sodium.signDetached) ||
      !ResolveSymbol(library, "crypto_sign_verify_detached", sodium.verifyDetached) || sodium.init() < 0)
    return std::nullopt;
  return sodium;
}

const SodiumLibrary& Sodium() {
  static const std::optional<SodiumLibrary> sodium = LoadSodium();
  if (!sodium) throw std::runtime_error("The signature library cannot start.");
  return *sodium;
}

void PutLittleEndian(std::string& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::uint64_t GetLittleEndian(std::string_view in, std::size_t at, int bytes) {
  std::uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(in[at + i]);
  return value;
}

// Magic, version and length: the part of the header the signature covers.
std::string SignedHead(const VersionWords& version, std::uint64_t payloadBytes) {
  std::string head(kBuildMagic);
  PutLittleEndian(head, version.high >> 16, 2);
  PutLittleEndian(head, version.high & 0xFFFF, 2);
  PutLittleEndian(head, version.low >> 16, 2);
  PutLittleEndian(head, version.low & 0xFFFF, 2);
  PutLittleEndian(head, payloadBytes, 8);
  return head;
}

VersionWords VersionOfHead(std::string_view file) {
  const auto part = [&](std::size_t at) { return static_cast<std::uint32_t>(GetLittleEndian(file, at, 2)); };
  return {part(8) << 16 | part(10), part(12) << 16 | part(14)};
}

bool SignatureHolds(std::string_view signature, const std::string& message, std::string_view publicKey) {
  return Sodium().verifyDetached(reinterpret_cast<const unsigned char*>(signature.data()),
                                     reinterpret_cast<const unsigned char*>(message.data()), message.size(),
                                     reinterpret_cast<const unsigned char*>(publicKey.data())) == 0;
}

// Why the file is no build to install over `installed`; empty when it is one.
std::string RefusalOf(std::string_view file, std::string_view publicKey, const VersionWords& installed) {
  if (publicKey.size() != crypto_sign_PUBLICKEYBYTES) return "no trusted key is built in";
  if (file.size() < kBuildHeaderBytes || !file.starts_with(kBuildMagic)) return "not a signed build";
  if (GetLittleEndian(file, 16, 8) != file.size() - kBuildHeaderBytes ||
      file.size() - kBuildHeaderBytes > kMaxPayloadBytes)
    return "the build is not whole";
  const std::string_view payload = file.substr(kBuildHeaderBytes);
  if (!SignatureHolds(file.substr(24, crypto_sign_BYTES), std::string(file.substr(0, 24)).append(payload), publicKey))
    return "the signature does not hold";
  const VersionWords version = VersionOfHead(file);
  if (!IsNewerVersion(installed, version))
    return "version " + VersionText(version) + " is not newer than " + VersionText(installed);
  // A program that took itself for an older version than its header says would be offered itself
  // again at every tick once installed.
  return PayloadVersionProblem(payload, version);
}

}  // namespace

KeyPair MakeKeyPair() {
  const SodiumLibrary& sodium = Sodium();
  unsigned char publicKey[crypto_sign_PUBLICKEYBYTES];
  unsigned char secretKey[crypto_sign_SECRETKEYBYTES];
  sodium.keypair(publicKey, secretKey);
  KeyPair pair{std::string(reinterpret_cast<char*>(publicKey), sizeof publicKey),
               std::string(reinterpret_cast<char*>(secretKey), sizeof secretKey)};
  sodium.memzero(secretKey, sizeof secretKey);
  return pair;
}

std::string SignBuild(std::string_view payload, const VersionWords& version, std::string_view secretKey) {
  const SodiumLibrary& sodium = Sodium();
  if (secretKey.size() != crypto_sign_SECRETKEYBYTES) throw std::invalid_argument("not a signing key");
  const std::string message = SignedHead(version, payload.size()).append(payload);
  unsigned char signature[crypto_sign_BYTES];
  sodium.signDetached(signature, nullptr, reinterpret_cast<const unsigned char*>(message.data()), message.size(),
                       reinterpret_cast<const unsigned char*>(secretKey.data()));
  std::string file = message.substr(0, 24);
  file.append(reinterpret_cast<char*>(signature), sizeof signature);
  return file.append(payload);
}

std::optional<std::string> VerifyBuild(std::string_view file, std::string_view publicKey, const VersionWords& installed,
                                       std::string& refusal) {
  Sodium();  // a missing library is an error, not a refusal
  refusal = RefusalOf(file, publicKey, installed);
  if (!refusal.empty()) return std::nullopt;
  return std::string(file.substr(kBuildHeaderBytes));
}

std::string PayloadVersionProblem(std::string_view payload, const VersionWords& version) {
  const std::optional<VersionWords> recorded = RecordedVersionIn(payload);
  if (!recorded) return "the program records no version";
  if (*recorded != version)
    return "the program records version " + VersionText(*recorded) + ", not " + VersionText(version);
  return {};
}

std::string HexOf(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (const unsigned char byte : bytes) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 15];
  }
  return hex;
}

std::optional<std::string> BytesOfHex(std::string_view hex) {
  const auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  if (hex.size() % 2 != 0) return std::nullopt;
  std::string bytes;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int high = nibble(hex[i]), low = nibble(hex[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes += static_cast<char>(high << 4 | low);
  }
  return bytes;
}

}  // namespace hw
