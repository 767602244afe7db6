#pragma once
#include <algorithm>
#include <string>
#include <string_view>

namespace hw {

// Header names and tokens are compared without regard to ASCII letter case; bytes above 127 stay.
inline std::string AsciiLower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; });
  return lower;
}

// Without leading and trailing blanks and tabs.
inline std::string TrimBlanks(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return std::string(text.substr(first, text.find_last_not_of(" \t") - first + 1));
}

}  // namespace hw
