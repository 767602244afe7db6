#pragma once
#include <optional>
#include <string>

namespace hw {

// The longest line read for a password or an answer; more is refused, not cut.
inline constexpr std::size_t kMostInputBytes = 1024;

// Whether a person types at standard input.
bool InputIsTerminal();
// One line from standard input without its line end; at a terminal, after `prompt` on standard
// error and without echo when `hidden`. Nothing at the end of the input or past kMostInputBytes.
std::optional<std::string> ReadInputLine(const std::string& prompt, bool hidden);

}  // namespace hw
