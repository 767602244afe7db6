#pragma once
#include <string_view>

namespace hw {

// Converts a whole text to a 32-bit integer: leading spaces and one sign, then decimal digits, or
// hexadecimal digits after "$", "x", "X", "0x" or "0X"; nothing may follow. Decimal values must fit
// the signed 32-bit range; hexadecimal digits may fill all 32 bits ("$FFFFFFFF" is -1).
// Throws ConvertError "'<text>' is not a valid integer value" otherwise.
int StrToInt(std::string_view text);

}  // namespace hw
