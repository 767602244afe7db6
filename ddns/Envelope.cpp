#include "ddns/Envelope.h"

#include "ddns/Base64.h"

namespace hw {
namespace {

std::string PlainEnvelope(std::string_view name, std::string_view password, std::string_view machineId) {
  std::string plain = "GDS\r\n";  // the service decodes exactly this layout; no byte may change
  plain.append(name).append("\r\n").append(password).append("\r\n").append(machineId);
  return plain;
}

// The inverse of ShiftText: each byte i lowered by i + 5; the terminator must come out as zero.
std::optional<std::string> UnshiftText(std::string_view shifted) {
  if (shifted.empty()) return std::nullopt;
  std::string plain(shifted.size() - 1, '\0');
  for (std::size_t i = 0; i < shifted.size(); ++i) {
    const auto byte = static_cast<char>((static_cast<unsigned char>(shifted[i]) - i - 5) & 0xFF);
    if (i + 1 == shifted.size()) return byte == 0 ? std::optional(plain) : std::nullopt;
    plain[i] = byte;
  }
  return std::nullopt;
}

// The bytes of base64 text in the one form EncodeBase64 writes (padding only at the end, no stray
// bits); nothing for any other text.
std::optional<std::string> DecodeCanonicalBase64(std::string_view text) {
  if (text.size() % 4 != 0 ||
      text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=") !=
          std::string_view::npos)
    return std::nullopt;
  std::string bytes = DecodeBase64(text);
  if (EncodeBase64(bytes) != text) return std::nullopt;
  return bytes;
}

}  // namespace

std::string ShiftText(std::string_view plain) {
  std::string shifted(plain.size() + 1, '\0');
  for (std::size_t i = 0; i <= plain.size(); ++i) {
    const unsigned byte = i < plain.size() ? static_cast<unsigned char>(plain[i]) : 0u;
    shifted[i] = static_cast<char>((byte + i + 5) & 0xFF);
  }
  return shifted;
}

bool EnvelopeFits(std::string_view name, std::string_view password, std::string_view machineId) {
  return PlainEnvelope(name, password, machineId).size() <= kMaxEnvelopePlainBytes;
}

std::string BuildEnvelope(std::string_view name, std::string_view password, std::string_view machineId) {
  const std::string plain = PlainEnvelope(name, password, machineId);
  if (plain.size() > kMaxEnvelopePlainBytes) throw EnvelopeTooLongError();
  return "a=" + EncodeBase64(EncodeBase64(ShiftText(plain)));
}

std::optional<EnvelopeFields> DecodeEnvelope(std::string_view body) {
  // The largest envelope: 256 shifted bytes, twice in base64.
  constexpr std::size_t kLongestBody = 2 + 460;
  if (!body.starts_with("a=") || body.size() > kLongestBody) return std::nullopt;
  const auto inner = DecodeCanonicalBase64(body.substr(2));
  const auto shifted = inner ? DecodeCanonicalBase64(*inner) : std::nullopt;
  // The client's room: 255 bytes of plain text and the terminator.
  if (!shifted || shifted->size() > kMaxEnvelopePlainBytes + 1) return std::nullopt;
  const auto plain = UnshiftText(*shifted);
  if (!plain || !plain->starts_with("GDS\r\n")) return std::nullopt;
  std::string_view rest = std::string_view(*plain).substr(5);
  EnvelopeFields fields;
  for (std::string* field : {&fields.name, &fields.password}) {
    const auto end = rest.find("\r\n");
    if (end == std::string_view::npos) return std::nullopt;
    *field = rest.substr(0, end);
    rest.remove_prefix(end + 2);
  }
  if (rest.find("\r\n") != std::string_view::npos) return std::nullopt;
  fields.machineId = rest;
  return fields;
}

}  // namespace hw
