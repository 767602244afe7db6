#include "platform/UserLanguage.h"

#include <dlfcn.h>
#include <unicode/uclean.h>
#include <unicode/uloc.h>
#include <unicode/uvernum.h>

#include <cstdlib>
#include <map>
#include <mutex>

#include "platform/LibrarySymbol.h"

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

// ICU's locale functions, loaded for a lookup and unloaded after it: the daemon asks once per run,
// and the tray client's toolkit holds the library anyway. The names carry ICU's version suffix.
#define HW_NAME_TEXT(name) HW_NAME_TEXT_OF(name)
#define HW_NAME_TEXT_OF(name) #name

constexpr const char* kIcuLibrary = "libicuuc.so." U_ICU_VERSION_SHORT;

class LocaleLibrary {
 public:
  LocaleLibrary() : ownLoad_(!IsLoaded()), handle_(::dlopen(kIcuLibrary, RTLD_NOW | RTLD_LOCAL)) {
    loaded_ = handle_ && Resolve(HW_NAME_TEXT(uloc_getLCID), getLCID) &&
              Resolve(HW_NAME_TEXT(uloc_addLikelySubtags), addLikelySubtags) &&
              Resolve(HW_NAME_TEXT(uloc_getLanguage), getLanguage) &&
              Resolve(HW_NAME_TEXT(uloc_getCountry), getCountry) && Resolve(HW_NAME_TEXT(u_cleanup), cleanup);
  }
  ~LocaleLibrary() {
    if (!handle_) return;
    // ICU's caches go with a library this lookup loaded; one the toolkit uses keeps them.
    if (ownLoad_ && cleanup) cleanup();
    ::dlclose(handle_);
  }
  LocaleLibrary(const LocaleLibrary&) = delete;
  LocaleLibrary& operator=(const LocaleLibrary&) = delete;
  bool Loaded() const { return loaded_; }

  decltype(&::uloc_getLCID) getLCID = nullptr;
  decltype(&::uloc_addLikelySubtags) addLikelySubtags = nullptr;
  decltype(&::uloc_getLanguage) getLanguage = nullptr;
  decltype(&::uloc_getCountry) getCountry = nullptr;

 private:
  static bool IsLoaded() {
    void* loaded = ::dlopen(kIcuLibrary, RTLD_NOW | RTLD_NOLOAD);
    if (loaded) ::dlclose(loaded);
    return loaded != nullptr;
  }
  template <typename Function>
  bool Resolve(const char* name, Function& function) {
    return ResolveSymbol(handle_, name, function);
  }
  decltype(&::u_cleanup) cleanup = nullptr;
  bool ownLoad_;
  void* handle_;
  bool loaded_ = false;
};

// "de" -> "de_DE", "zh_Hant" -> "zh_TW": the region a speaker of the language most likely uses.
std::string LikelyLanguageAndRegion(const LocaleLibrary& icu, const std::string& locale) {
  UErrorCode status = U_ZERO_ERROR;
  char full[ULOC_FULLNAME_CAPACITY] = {};
  icu.addLikelySubtags(locale.c_str(), full, sizeof full, &status);
  char language[ULOC_LANG_CAPACITY] = {};
  icu.getLanguage(full, language, sizeof language, &status);
  char country[ULOC_COUNTRY_CAPACITY] = {};
  icu.getCountry(full, country, sizeof country, &status);
  if (U_FAILURE(status) || !*language || !*country) return {};
  return std::string(language) + "_" + country;
}

unsigned LookUpLangId(const std::string& locale) {
  const LocaleLibrary icu;
  if (!icu.Loaded()) return kUsEnglishLangId;  // without ICU every text is English
  const unsigned direct = icu.getLCID(locale.c_str());
  if (IsRegionalLangId(direct)) return direct;
  const std::string likely = LikelyLanguageAndRegion(icu, locale);
  const unsigned expanded = likely.empty() ? 0 : icu.getLCID(likely.c_str());
  if (IsRegionalLangId(expanded)) return expanded;
  return direct != 0 ? direct : kUsEnglishLangId;
}

}  // namespace

unsigned LangIdOfLocale(const std::string& localeName) {
  const std::string locale = LanguageAndRegion(localeName);
  if (locale.empty() || locale == "C" || locale == "POSIX") return kUsEnglishLangId;
  // Every log line asks; a program meets one or two locale names in its life.
  static std::mutex mutex;
  static std::map<std::string, unsigned> known;
  const std::lock_guard lock(mutex);
  if (known.size() > 64) known.clear();
  const auto [entry, added] = known.try_emplace(locale, 0);
  if (added) entry->second = LookUpLangId(locale);
  return entry->second;
}

unsigned UserDefaultLangId() { return LangIdOfLocale(FirstNonEmptyEnv({"LC_ALL", "LC_MESSAGES", "LANG"})); }

}  // namespace hw
