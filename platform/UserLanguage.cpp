#include "platform/UserLanguage.h"

#include <unicode/uloc.h>

#include <cstdlib>

namespace hw {
namespace {

// Ids below 0x400 name a language without a region (7 is German in general); section names in
// lang.ini are regional ids, the kind a desktop's language setting always yields.
bool IsRegionalLangId(unsigned langId) { return langId >= 0x400; }

// "zh_TW.UTF-8@xyz" -> "zh_TW": the code set and the modifier say nothing about the language, and
// ICU would misread them.
std::string LanguageAndRegion(const std::string& localeName) {
  return localeName.substr(0, localeName.find_first_of(".@"));
}

std::string FirstNonEmptyEnv(std::initializer_list<const char*> names) {
  for (const char* name : names) {
    const char* value = std::getenv(name);
    if (value && *value) return value;
  }
  return {};
}

// "de" -> "de_DE", "zh_Hant" -> "zh_TW": the region a speaker of the language most likely uses.
std::string LikelyLanguageAndRegion(const std::string& locale) {
  UErrorCode status = U_ZERO_ERROR;
  char full[ULOC_FULLNAME_CAPACITY] = {};
  uloc_addLikelySubtags(locale.c_str(), full, sizeof full, &status);
  char language[ULOC_LANG_CAPACITY] = {};
  uloc_getLanguage(full, language, sizeof language, &status);
  char country[ULOC_COUNTRY_CAPACITY] = {};
  uloc_getCountry(full, country, sizeof country, &status);
  if (U_FAILURE(status) || !*language || !*country) return {};
  return std::string(language) + "_" + country;
}

}  // namespace

unsigned LangIdOfLocale(const std::string& localeName) {
  const std::string locale = LanguageAndRegion(localeName);
  if (locale.empty() || locale == "C" || locale == "POSIX") return kUsEnglishLangId;
  const unsigned direct = uloc_getLCID(locale.c_str());
  if (IsRegionalLangId(direct)) return direct;
  const std::string likely = LikelyLanguageAndRegion(locale);
  const unsigned expanded = likely.empty() ? 0 : uloc_getLCID(likely.c_str());
  if (IsRegionalLangId(expanded)) return expanded;
  return direct != 0 ? direct : kUsEnglishLangId;
}

unsigned UserDefaultLangId() { return LangIdOfLocale(FirstNonEmptyEnv({"LC_ALL", "LC_MESSAGES", "LANG"})); }

}  // namespace hw
