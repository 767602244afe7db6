#include "platform/ProfileReader.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <string_view>

#include "common/Text.h"
#include "platform/FileStamp.h"

namespace hw {
namespace {

struct ProfileEntry {
  std::string key;
  std::string text;
};

struct ProfileSection {
  std::string name;
  std::vector<ProfileEntry> entries;
};

// Ctrl-Z counts as a blank: editors of old once ended text files with it.
constexpr std::string_view kBlanks = " \t\r\n\v\f\x1a";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

std::string_view TrimLine(std::string_view text) { return Trim(text, kBlanks); }

void ReportCut(const std::string& file) {
  static bool reported = false;
  if (reported) return;
  reported = true;
  std::fprintf(stderr, "%s: only the first %zu bytes are read\n", file.c_str(), kProfileFileLimit);
}

std::string ReadFileBytes(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return {};
  std::string bytes;
  char chunk[16 * 1024];
  while (bytes.size() <= kProfileFileLimit) {
    in.read(chunk, sizeof chunk);
    if (in.gcount() <= 0) break;
    bytes.append(chunk, static_cast<std::size_t>(in.gcount()));
  }
  if (bytes.size() > kProfileFileLimit) {
    bytes.resize(kProfileFileLimit);
    ReportCut(file);
  }
  if (bytes.starts_with(kUtf8Bom)) bytes.erase(0, kUtf8Bom.size());
  return bytes;
}

// "[name]" with the name up to the line's last "]"; nullopt for any other line.
std::optional<std::string> SectionHeader(std::string_view line) {
  if (!line.starts_with('[')) return std::nullopt;
  const auto close = line.rfind(']');
  if (close == std::string_view::npos) return std::nullopt;
  return std::string(TrimLine(line.substr(1, close - 1)));
}

// "key = text" or a bare "key" (whose text is empty).
ProfileEntry Entry(std::string_view line) {
  const auto equals = line.find('=');
  if (equals == std::string_view::npos) return {std::string(line), {}};
  return {std::string(TrimLine(line.substr(0, equals))), std::string(TrimLine(line.substr(equals + 1)))};
}

// Lines before the first section header belong to no section and cannot be looked up.
std::vector<ProfileSection> ParseProfile(std::string_view bytes) {
  std::vector<ProfileSection> sections;
  while (!bytes.empty()) {
    const auto lineEnd = std::min(bytes.find('\n'), bytes.size());
    const std::string_view line = TrimLine(bytes.substr(0, lineEnd));
    bytes.remove_prefix(std::min(lineEnd + 1, bytes.size()));
    if (line.empty() || line.starts_with(';')) continue;
    if (auto name = SectionHeader(line)) {
      sections.push_back({std::move(*name), {}});
    } else if (!sections.empty()) {
      ProfileEntry entry = Entry(line);
      if (!entry.key.empty()) sections.back().entries.push_back(std::move(entry));
    }
  }
  return sections;
}

const ProfileSection* FindSection(const std::vector<ProfileSection>& sections, std::string_view name) {
  const auto found = std::ranges::find_if(
      sections, [name](const ProfileSection& section) { return SameIgnoringCase(section.name, name); });
  return found == sections.end() ? nullptr : &*found;
}

std::string_view WithoutQuotes(std::string_view text) {
  const bool quoted = text.size() >= 2 && (text.front() == '"' || text.front() == '\'') && text.back() == text.front();
  return quoted ? text.substr(1, text.size() - 2) : text;
}

// The file's sections, parsed again only when the file is another one or has changed since: every
// log line of the programs looks a text up.
std::shared_ptr<const std::vector<ProfileSection>> Sections(const std::string& file) {
  static FileWatch watch;
  static std::shared_ptr<const std::vector<ProfileSection>> last;
  if (!watch.Unchanged(file) || !last)
    last = std::make_shared<const std::vector<ProfileSection>>(ParseProfile(ReadFileBytes(file)));
  return last;
}

}  // namespace

std::vector<std::string> ProfileSectionKeys(const std::string& file, const std::string& section) {
  const auto parsed = Sections(file);
  const auto& sections = *parsed;
  const ProfileSection* found = FindSection(sections, TrimLine(section));
  std::vector<std::string> keys;
  if (found) {
    for (const ProfileEntry& entry : found->entries) keys.push_back(entry.key);
  }
  return keys;
}

std::string ProfileString(const std::string& file, const std::string& section, const std::string& key) {
  const auto parsed = Sections(file);
  const auto& sections = *parsed;
  const ProfileSection* found = FindSection(sections, TrimLine(section));
  if (!found) return {};
  const std::string_view wanted = TrimLine(key);
  for (const ProfileEntry& entry : found->entries) {
    if (SameIgnoringCase(entry.key, wanted)) return std::string(WithoutQuotes(entry.text).substr(0, kProfileTextLimit));
  }
  return {};
}

}  // namespace hw
