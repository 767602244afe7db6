#include "ddns/Envelope.h"

#include "ddns/Base64.h"

namespace hw {
namespace {

std::string PlainEnvelope(std::string_view name, std::string_view password, std::string_view machineId) {
  std::string plain = "GDS\r\n";  // the service decodes exactly this layout; no byte may change
  plain.append(name).append("\r\n").append(password).append("\r\n").append(machineId);
  return plain;
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

}  // namespace hw
