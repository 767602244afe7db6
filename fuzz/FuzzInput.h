#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The bytes libFuzzer hands a target, as text.
inline std::string_view AsText(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}
