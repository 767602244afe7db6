#pragma once
#include <string>
#include <string_view>

namespace hw {

// Standard alphabet, "=" as pad character, no line breaks whatever the length.
std::string EncodeBase64(std::string_view bytes);
// Fails with "Uneven size in DecodeToStream." when the length is not a multiple of 4. Characters
// outside the alphabet count as 0.
std::string DecodeBase64(std::string_view text);

}  // namespace hw
