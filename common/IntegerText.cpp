#include "common/IntegerText.h"

#include <cstdint>
#include <optional>
#include <string>

#include "common/AppError.h"

namespace hw {

namespace {

constexpr std::uint64_t kUint32Max = 0xFFFF'FFFFu;
constexpr std::uint64_t kInt32Max = 0x7FFF'FFFFu;

std::optional<unsigned> DigitValue(char c, unsigned base) {
  unsigned value = base;
  if (c >= '0' && c <= '9')
    value = static_cast<unsigned>(c - '0');
  else if (c >= 'a' && c <= 'f')
    value = static_cast<unsigned>(c - 'a' + 10);
  else if (c >= 'A' && c <= 'F')
    value = static_cast<unsigned>(c - 'A' + 10);
  if (value >= base) return std::nullopt;
  return value;
}

// Removes a hexadecimal prefix from the front of the digits and tells whether there was one.
bool TakeHexPrefix(std::string_view& digits) {
  if (digits.starts_with('$') || digits.starts_with('x') || digits.starts_with('X')) {
    digits.remove_prefix(1);
    return true;
  }
  if (digits.starts_with("0x") || digits.starts_with("0X")) {
    digits.remove_prefix(2);
    return true;
  }
  return false;
}

// The magnitude the digits spell, or nothing when they are empty, hold a foreign character or
// exceed the limit.
std::optional<std::uint64_t> ParseMagnitude(std::string_view digits, unsigned base, std::uint64_t limit) {
  if (digits.empty()) return std::nullopt;
  std::uint64_t magnitude = 0;
  for (const char c : digits) {
    const auto digit = DigitValue(c, base);
    if (!digit) return std::nullopt;
    magnitude = magnitude * base + *digit;
    if (magnitude > limit) return std::nullopt;
  }
  return magnitude;
}

std::optional<int> ParseInteger(std::string_view text) {
  const auto firstNonBlank = text.find_first_not_of(' ');
  if (firstNonBlank == std::string_view::npos) return std::nullopt;
  std::string_view rest = text.substr(firstNonBlank);
  const bool negative = rest.starts_with('-');
  if (negative || rest.starts_with('+')) rest.remove_prefix(1);
  const bool hex = TakeHexPrefix(rest);
  // Hexadecimal digits are a 32-bit pattern; decimal digits a signed magnitude (one more below zero).
  const std::uint64_t limit = hex ? kUint32Max : kInt32Max + (negative ? 1 : 0);
  const auto magnitude = ParseMagnitude(rest, hex ? 16 : 10, limit);
  if (!magnitude) return std::nullopt;
  const auto pattern = static_cast<std::uint32_t>(*magnitude);
  return static_cast<int>(negative ? 0u - pattern : pattern);
}

}  // namespace

int StrToInt(std::string_view text) {
  const auto value = ParseInteger(text);
  if (!value) throw ConvertError(FormatMessage("'%s' is not a valid integer value", std::string(text)));
  return *value;
}

}  // namespace hw
