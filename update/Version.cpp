#include "update/Version.h"

#include <sys/stat.h>

#include <fstream>
#include <memory>

#include "BuildConfig.h"
#include "common/IntegerText.h"

namespace hw {

// The version record of every program file that links this code: a marker followed by the version
// text, read back from the file itself (never from memory), as a replaced file must report its own.
extern "C" __attribute__((used)) const char hw_file_version_record[] = "HOSTWARDEN-FILE-VERSION:" HW_BUILD_VERSION;

namespace {

constexpr std::string_view kRecordMarker = "HOSTWARDEN-FILE-VERSION:";
constexpr std::size_t kLongestVersionText = 23;  // "65535.65535.65535.65535"

std::uint32_t Low16(int value) { return static_cast<std::uint32_t>(value) & 0xFFFFu; }

// Takes the text up to the first "." and the "." off the front; the empty text when there is no "."
// (or it comes first), which then fails the conversion as the service's malformed replies do.
std::string_view TakePart(std::string_view& text) {
  const auto dot = text.find('.');
  if (dot == std::string_view::npos || dot == 0) return {};
  const std::string_view part = text.substr(0, dot);
  text.remove_prefix(dot + 1);
  return part;
}

// A version text that follows a record marker, when one does.
std::optional<VersionWords> RecordAt(std::string_view bytes) {
  std::size_t length = 0;
  while (length < bytes.size() && length < kLongestVersionText &&
         ((bytes[length] >= '0' && bytes[length] <= '9') || bytes[length] == '.'))
    ++length;
  if (length == 0 || length >= bytes.size() || bytes[length] != '\0') return std::nullopt;
  try {
    return ParseVersion(bytes.substr(0, length));
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

}  // namespace

VersionWords ParseVersion(std::string_view text) {
  int parts[4] = {};
  for (int i = 0; i < 3; ++i) parts[i] = StrToInt(TakePart(text));
  parts[3] = StrToInt(text);
  return {Low16(parts[0]) << 16 | Low16(parts[1]), Low16(parts[2]) << 16 | Low16(parts[3])};
}

bool IsNewerVersion(const VersionWords& own, const VersionWords& offered) {
  if (offered.high != own.high) return offered.high > own.high;
  return offered.low > own.low;
}

std::string VersionText(const VersionWords& version) {
  return std::to_string(version.high >> 16) + "." + std::to_string(version.high & 0xFFFF) + "." +
         std::to_string(version.low >> 16) + "." + std::to_string(version.low & 0xFFFF);
}

std::optional<VersionWords> RecordedVersionIn(std::string_view bytes) {
  for (auto at = bytes.find(kRecordMarker); at != std::string_view::npos; at = bytes.find(kRecordMarker, at + 1))
    if (auto version = RecordAt(bytes.substr(at + kRecordMarker.size()))) return version;
  return std::nullopt;
}

std::optional<VersionWords> FileVersionOf(const std::string& programFile) {
  std::ifstream in(programFile, std::ios::binary);
  // Read in blocks, each after the tail of the one before, so a record across a block edge is found;
  // the search ends at the block that holds the record, which every tick reads again.
  const std::size_t overlap = kRecordMarker.size() + kLongestVersionText + 1;
  const auto buffer = std::make_unique_for_overwrite<char[]>(overlap + kVersionScanBlock);
  std::size_t kept = 0;
  while (in) {
    in.read(buffer.get() + kept, static_cast<std::streamsize>(kVersionScanBlock));
    const std::size_t filled = kept + static_cast<std::size_t>(in.gcount());
    if (auto version = RecordedVersionIn(std::string_view(buffer.get(), filled))) return version;
    kept = std::min(overlap, filled);
    std::copy(buffer.get() + (filled - kept), buffer.get() + filled, buffer.get());
  }
  return std::nullopt;
}

VersionWords FileVersionReader::Read(const std::string& file) {
  if (!watch_.Unchanged(file)) version_ = FileVersionOf(file).value_or(VersionWords{});
  return version_;
}

VersionWords GetOwnVersion() {
  // The running image itself: the kernel keeps it readable through this name also after a package
  // upgrade has removed or replaced the file it was started from.
  static FileVersionReader reader;  // every tick asks
  const VersionWords version = reader.Read("/proc/self/exe");
  return version == VersionWords{} ? ParseVersion(hw_file_version_record + kRecordMarker.size()) : version;
}

}  // namespace hw
