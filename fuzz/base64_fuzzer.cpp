// The program's base64: any text decodes or fails cleanly, and every byte string comes back whole.
#include <cstdlib>

#include "common/AppError.h"
#include "ddns/Base64.h"
#include "fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = AsText(data, size);
  try {
    hw::DecodeBase64(text);
  } catch (const hw::ConvertError&) {
  }
  if (hw::DecodeBase64(hw::EncodeBase64(text)) != text) std::abort();
  return 0;
}
