#include "i18n/LangTable.h"

#include "platform/ProfileReader.h"
#include "platform/UserLanguage.h"

namespace hw {
namespace {

constexpr std::string_view kParamMarker = "%d";

std::string ChosenSection(const std::string& file, unsigned langId) {
  const std::string own = std::to_string(langId);
  if (!ProfileSectionKeys(file, own).empty()) return own;
  return std::to_string(kUsEnglishLangId);
}

std::string Splice(std::string text, const std::string& param) {
  if (text.empty()) return param;
  const auto marker = text.find(kParamMarker);
  if (marker != std::string::npos) return text.replace(marker, kParamMarker.size(), param);
  if (!text.ends_with(' ')) text += ' ';
  return text + param;
}

}  // namespace

std::string LookupLangStr(const std::string& file, unsigned langId, const std::string& messageId,
                          const std::string& param) {
  std::string text = ProfileString(file, ChosenSection(file, langId), messageId);
  if (param.empty()) return text;
  return Splice(std::move(text), param);
}

std::string GetLangStr(const std::string& messageId, const std::string& param) {
  return LookupLangStr(LangFilePath(), UserDefaultLangId(), messageId, param);
}

}  // namespace hw
