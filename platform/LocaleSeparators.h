#pragma once
#include <string>

namespace hw {

// The separators the user's locale writes dates, times and decimal fractions with, as the C library
// of this desktop knows them (LC_ALL, else LC_TIME and LC_NUMERIC, else LANG).
struct DateTimeSeparators {
  std::string date = "/";
  std::string time = ":";
  std::string decimal = ".";
};

// A locale whose formats use no separator of one ASCII character (Chinese dates are written with
// characters for year, month and day) keeps the default for it.
DateTimeSeparators UserDateTimeSeparators();

}  // namespace hw
