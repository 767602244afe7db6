// The envelope as the service reads it: any body is refused or read, and what is read is what the
// client would have built.
#include <cstdlib>

#include "ddns/Envelope.h"
#include "fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto fields = hw::DecodeEnvelope(AsText(data, size));
  if (!fields) return 0;
  const auto again = hw::DecodeEnvelope(hw::BuildEnvelope(fields->name, fields->password, fields->machineId));
  if (!again || again->name != fields->name || again->password != fields->password ||
      again->machineId != fields->machineId)
    std::abort();
  return 0;
}
