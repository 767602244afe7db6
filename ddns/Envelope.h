#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "common/AppError.h"

namespace hw {

// The plain text is built in a 256-byte work area that also holds its terminating zero.
inline constexpr std::size_t kMaxEnvelopePlainBytes = 255;

// An account whose name and password do not fit the envelope; it is never sent cut or overlong.
class EnvelopeTooLongError : public AppError {
 public:
  EnvelopeTooLongError() : AppError("The account name and password are too long to be sent.") {}
};

// Each byte i of the plain text plus a terminating zero, raised by i + 5 (modulo 256).
std::string ShiftText(std::string_view plain);
bool EnvelopeFits(std::string_view name, std::string_view password, std::string_view machineId);
// The form body "a=" + base64(base64(shifted "GDS" CR LF name CR LF password CR LF machine id)).
std::string BuildEnvelope(std::string_view name, std::string_view password, std::string_view machineId);

// What an envelope carries, as the service reads it back.
struct EnvelopeFields {
  std::string name;
  std::string password;
  std::string machineId;
};

// The fields of a form body that BuildEnvelope made; nothing for any other text (a body too long
// for the envelope's room, another form, broken base64, a shift that does not end in the shifted
// terminator, fewer or more than the four lines).
std::optional<EnvelopeFields> DecodeEnvelope(std::string_view body);

}  // namespace hw
