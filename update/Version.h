#pragma once
#include <sys/stat.h>

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/FileStamp.h"

namespace hw {

// A version as two 32-bit words: major and minor in the high word, release and build in the low
// word, 16 bits each. Compared word by word, which orders versions part by part.
struct VersionWords {
  std::uint32_t high = 0;
  std::uint32_t low = 0;
  friend auto operator<=>(const VersionWords&, const VersionWords&) = default;
};

// "major.minor.release.build", each part converted as the service's replies are (leading blanks,
// a sign, decimal or "$"/"0x" hexadecimal) and cut to 16 bits. Throws ConvertError "'<part>' is not
// a valid integer value" for a missing or malformed part (the empty text when a "." is missing).
VersionWords ParseVersion(std::string_view text);

// True when the offered version is strictly newer than the own one.
bool IsNewerVersion(const VersionWords& own, const VersionWords& offered);

// "1.3.0.0".
std::string VersionText(const VersionWords& version);

// The reading unit of FileVersionOf, in bytes.
inline constexpr std::size_t kVersionScanBlock = 64 * 1024;

// The first version record in the bytes of a program file; nothing when they hold none.
std::optional<VersionWords> RecordedVersionIn(std::string_view bytes);

// The version recorded in a program file of this project when it was built; nothing when the file
// holds no record (or cannot be read).
std::optional<VersionWords> FileVersionOf(const std::string& programFile);

// FileVersionOf (nothing found: all zero), searched again only when the file is another one or
// has changed since the last search (a file replaced by a rename has a new inode, one rewritten in
// place a new size or time).
class FileVersionReader {
 public:
  VersionWords Read(const std::string& file);

 private:
  FileWatch watch_;
  VersionWords version_{};
};

// The running program's own version, read back from the image it was started from (so a build put
// in place reports its own version, and a file replaced under the running program changes nothing);
// the version built in when the image cannot be read.
VersionWords GetOwnVersion();

}  // namespace hw
