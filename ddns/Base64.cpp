#include "ddns/Base64.h"

#include <cstdint>

#include "common/AppError.h"

namespace hw {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::uint32_t SixBits(char c) {
  if (c >= 'A' && c <= 'Z') return static_cast<std::uint32_t>(c - 'A');
  if (c >= 'a' && c <= 'z') return static_cast<std::uint32_t>(c - 'a' + 26);
  if (c >= '0' && c <= '9') return static_cast<std::uint32_t>(c - '0' + 52);
  if (c == '+') return 62;
  if (c == '/') return 63;
  return 0;
}

}  // namespace

std::string EncodeBase64(std::string_view bytes) {
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t left = bytes.size() - i;
    std::uint32_t group = static_cast<unsigned char>(bytes[i]) << 16;
    if (left > 1) group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (left > 2) group |= static_cast<unsigned char>(bytes[i + 2]);
    text += kAlphabet[(group >> 18) & 63];
    text += kAlphabet[(group >> 12) & 63];
    text += left > 1 ? kAlphabet[(group >> 6) & 63] : '=';
    text += left > 2 ? kAlphabet[group & 63] : '=';
  }
  return text;
}

std::string DecodeBase64(std::string_view text) {
  // The message names a routine this program does not have; users report it by this exact text.
  if (text.size() % 4 != 0) throw ConvertError("Uneven size in DecodeToStream.");
  std::string bytes;
  bytes.reserve(text.size() / 4 * 3);
  for (std::size_t i = 0; i < text.size(); i += 4) {
    const std::uint32_t group =
        SixBits(text[i]) << 18 | SixBits(text[i + 1]) << 12 | SixBits(text[i + 2]) << 6 | SixBits(text[i + 3]);
    bytes += static_cast<char>(group >> 16);
    if (text[i + 2] == '=') continue;
    bytes += static_cast<char>((group >> 8) & 0xFF);
    if (text[i + 3] == '=') continue;
    bytes += static_cast<char>(group & 0xFF);
  }
  return bytes;
}

}  // namespace hw
