#pragma once
#include <string>

namespace hw {

// The language id that texts are looked up by: English (United States).
inline constexpr unsigned kUsEnglishLangId = 1033;

// The 16-bit language id (1033 English US, 1028 Chinese Taiwan, 2052 Chinese PRC, 1031 German, ...)
// of the user's message locale: LC_ALL, else LC_MESSAGES, else LANG, whichever is first not empty.
// The C/POSIX locale, an unset environment or a locale without a known id give 1033.
unsigned UserDefaultLangId();

// The same mapping for one locale name such as "zh_TW.UTF-8" or "de_DE@euro".
unsigned LangIdOfLocale(const std::string& localeName);

}  // namespace hw
