#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/Text.h"
#include "i18n/LangTable.h"

namespace hw {
namespace {

const std::string kLangFileName = "lang.ini";

bool IsLangFileName(const std::string& name) { return AsciiLower(name) == kLangFileName; }

std::vector<std::string> LangFileCandidates() {
  std::vector<std::string> names;
  std::error_code error;
  for (std::filesystem::directory_iterator it(".", error), end; !error && it != end; it.increment(error)) {
    std::string name = it->path().filename().string();
    if (IsLangFileName(name) && it->is_regular_file(error)) names.push_back(std::move(name));
  }
  return names;
}

// The exact lower-case name wins when several spellings exist; otherwise the first in name order,
// so the choice does not depend on the order in which the directory lists its entries.
std::optional<std::string> FindLangFile() {
  std::error_code error;
  if (std::filesystem::is_regular_file(kLangFileName, error)) return kLangFileName;  // no listing needed
  const std::vector<std::string> names = LangFileCandidates();
  if (names.empty()) return std::nullopt;
  if (std::ranges::find(names, kLangFileName) != names.end()) return kLangFileName;
  return *std::ranges::min_element(names);
}

}  // namespace

std::string LangFilePath() { return "./" + FindLangFile().value_or(kLangFileName); }

bool LangFileExists() { return FindLangFile().has_value(); }

}  // namespace hw
