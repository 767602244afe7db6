#include "service/VerificationKey.h"

#include <fcntl.h>
#include <sodium.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace hw::service {
namespace {

std::runtime_error KeyError(const std::string& file, const std::string& what) {
  return std::runtime_error("the key file " + file + " " + what);
}

// Exactly one key, and not a byte more, from a regular file.
bool ReadKey(const std::string& file, VerificationKey& key) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    if (errno == ENOENT) return false;
    throw KeyError(file, std::string("cannot be read: ") + std::strerror(errno));
  }
  unsigned char bytes[sizeof key + 1];
  std::size_t got = 0;
  for (ssize_t n; got < sizeof bytes && (n = ::read(fd, bytes + got, sizeof bytes - got)) > 0;)
    got += static_cast<std::size_t>(n);
  ::close(fd);
  if (got != sizeof key) throw KeyError(file, "does not hold a key of this service (32 bytes)");
  std::memcpy(key.data(), bytes, sizeof key);
  sodium_memzero(bytes, sizeof bytes);
  return true;
}

// A new key written to a file of its own, then linked under the name: of two instances making one
// at once, the link of the second fails and it reads the first one's.
void MakeKey(const std::string& file) {
  VerificationKey key;
  randombytes_buf(key.data(), key.size());
  std::string draft = file + ".XXXXXX";
  const int fd = ::mkostemp(draft.data(), O_CLOEXEC);  // mode 0600
  if (fd < 0) throw KeyError(file, std::string("cannot be made: ") + std::strerror(errno));
  const bool written = ::write(fd, key.data(), key.size()) == static_cast<ssize_t>(key.size()) && ::fsync(fd) == 0;
  sodium_memzero(key.data(), key.size());
  ::close(fd);
  const int linked = written ? ::link(draft.c_str(), file.c_str()) : -1;
  const int error = errno;
  ::unlink(draft.c_str());
  if (!written || (linked != 0 && error != EEXIST))
    throw KeyError(file, std::string("cannot be made: ") + std::strerror(error));
}

}  // namespace

VerificationKey LoadOrMakeKey(const std::string& file) {
  if (sodium_init() < 0) throw std::runtime_error("the password hash library cannot start");
  VerificationKey key{};
  if (ReadKey(file, key)) return key;
  MakeKey(file);
  if (!ReadKey(file, key)) throw KeyError(file, "vanished as it was made");
  return key;
}

}  // namespace hw::service
