// The project's signing tool: makes the key pair that builds are signed with, and signs a build so
// that the updater accepts it.
//
//   hostwarden-sign keygen SECRET-KEY-FILE     writes the secret key (hex, mode 0600) and prints
//                                              the public key (hex) for HOSTWARDEN_UPDATE_PUBLIC_KEY
//   hostwarden-sign sign SECRET-KEY-FILE VERSION PROGRAM-FILE SIGNED-FILE
//                                              writes PROGRAM-FILE as a build of VERSION (a.b.c.d);
//                                              refused when the program records another version
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include "update/SignedBuild.h"

namespace {

std::string ReadFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error(std::string("cannot read ") + path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const char* path, const std::string& bytes, mode_t mode) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out.flush()) throw std::runtime_error(std::string("cannot write ") + path);
  ::chmod(path, mode);
}

int Usage() {
  std::fprintf(stderr,
               "usage: hostwarden-sign keygen SECRET-KEY-FILE\n"
               "       hostwarden-sign sign SECRET-KEY-FILE VERSION PROGRAM-FILE SIGNED-FILE\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "keygen" && argc == 3) {
      const hw::KeyPair pair = hw::MakeKeyPair();
      WriteFile(argv[2], hw::HexOf(pair.secretKey) + "\n", 0600);
      std::printf("%s\n", hw::HexOf(pair.publicKey).c_str());
      return 0;
    }
    if (command == "sign" && argc == 6) {
      std::string hex = ReadFile(argv[2]);
      while (!hex.empty() && (hex.back() == '\n' || hex.back() == '\r')) hex.pop_back();
      const auto secretKey = hw::BytesOfHex(hex);
      if (!secretKey) throw std::runtime_error("the secret key file holds no key");
      const hw::VersionWords version = hw::ParseVersion(argv[3]);
      const std::string program = ReadFile(argv[4]);
      // Every client and updater refuses such a build; better to hear it now than from the field.
      if (const std::string problem = hw::PayloadVersionProblem(program, version); !problem.empty())
        throw std::runtime_error(std::string(argv[4]) + ": " + problem);
      WriteFile(argv[5], hw::SignBuild(program, version, *secretKey), 0644);
      return 0;
    }
    return Usage();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "hostwarden-sign: %s\n", error.what());
    return 1;
  }
}
