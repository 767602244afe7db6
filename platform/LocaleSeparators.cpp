#include "platform/LocaleSeparators.h"

#include <langinfo.h>

#include <cctype>
#include <clocale>
#include <string_view>

namespace hw {
namespace {

// The separator a conversion stands for when it spells a whole time or date itself.
std::string_view SeparatorOfConversion(char conversion) {
  switch (conversion) {
    case 'T':
    case 'R':
    case 'r': return ":";
    case 'D': return "/";
    case 'F': return "-";
    default: return {};
  }
}

// The first literal ASCII punctuation between the conversions of a strftime format.
std::string SeparatorOfFormat(std::string_view format) {
  for (std::size_t at = 0; at < format.size(); ++at) {
    const char c = format[at];
    if (c == '%') {
      at = format.find_first_not_of("-_0^#EO", at + 1);  // flags and modifiers, then the conversion
      if (at == std::string_view::npos) break;
      if (const auto implied = SeparatorOfConversion(format[at]); !implied.empty()) return std::string(implied);
    } else if (static_cast<unsigned char>(c) < 0x80 && std::ispunct(static_cast<unsigned char>(c))) {
      return std::string(1, c);
    }
  }
  return {};
}

}  // namespace

DateTimeSeparators UserDateTimeSeparators() {
  DateTimeSeparators separators;
  locale_t locale = ::newlocale(LC_TIME_MASK | LC_NUMERIC_MASK, "", static_cast<locale_t>(nullptr));
  if (!locale) return separators;
  if (auto date = SeparatorOfFormat(::nl_langinfo_l(D_FMT, locale)); !date.empty()) separators.date = date;
  auto time = SeparatorOfFormat(::nl_langinfo_l(T_FMT, locale));
  if (time.empty()) time = SeparatorOfFormat(::nl_langinfo_l(T_FMT_AMPM, locale));
  if (!time.empty()) separators.time = time;
  if (const char* radix = ::nl_langinfo_l(RADIXCHAR, locale); radix && *radix) separators.decimal = radix;
  ::freelocale(locale);
  return separators;
}

}  // namespace hw
