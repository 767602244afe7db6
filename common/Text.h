#pragma once
#include <algorithm>
#include <string>
#include <string_view>

namespace hw {

// Letter case and blanks of names, tokens and file lines. Only ASCII letters change case: bytes
// above 127 belong to UTF-8 sequences and stay as they are.

inline char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

inline std::string AsciiLower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) { return AsciiLower(c); });
  return lower;
}

// Equal but for the letter case of ASCII letters.
inline bool SameIgnoringCase(std::string_view a, std::string_view b) {
  return std::ranges::equal(a, b, [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

// Blanks and tabs, the separators of header lines.
inline constexpr std::string_view kBlanksAndTabs = " \t";

// The text without the given characters at either end.
inline std::string_view Trim(std::string_view text, std::string_view blanks = kBlanksAndTabs) {
  const auto first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

inline std::string TrimBlanks(std::string_view text) { return std::string(Trim(text)); }

}  // namespace hw
