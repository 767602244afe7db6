#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "update/Version.h"

namespace hw {

// A build as the service hands it out, signed by the project's key:
//
//   offset  size  content
//   0       8     "HWBUILD1"                      (magic)
//   8       8     version: major, minor, release, build as 16-bit little-endian numbers
//   16      8     payload length, 64-bit little-endian
//   24      64    Ed25519 signature (detached) over bytes 0..23 followed by the payload
//   88      n     payload: the program file, byte for byte
//
// The signature covers the version, so a signed build cannot be passed off as another version, and
// the length, so a cut file is refused even where the cut falls.
inline constexpr std::string_view kBuildMagic = "HWBUILD1";
inline constexpr std::size_t kBuildHeaderBytes = 88;
inline constexpr std::size_t kPublicKeyBytes = 32;
inline constexpr std::size_t kMaxPayloadBytes = 64 * 1024 * 1024;

struct KeyPair {
  std::string publicKey;  // 32 bytes
  std::string secretKey;  // 64 bytes
};
KeyPair MakeKeyPair();

// The signed file of a build.
std::string SignBuild(std::string_view payload, const VersionWords& version, std::string_view secretKey);

// The payload of a signed file, when it is whole, signed by `publicKey`, newer than `installed` and
// a program that records the header's version; otherwise nothing, and `refusal` says why.
std::optional<std::string> VerifyBuild(std::string_view file, std::string_view publicKey, const VersionWords& installed,
                                       std::string& refusal);

// Why the program file cannot be a build of `version`: it records no version, or another one; empty
// when it records exactly that version.
std::string PayloadVersionProblem(std::string_view payload, const VersionWords& version);

// Keys travel as lower-case hexadecimal text (build values, key files).
std::string HexOf(std::string_view bytes);
std::optional<std::string> BytesOfHex(std::string_view hex);

}  // namespace hw
