#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "lifetime/DateTime.h"

namespace hw {

// The last successful reading of the service's clock; the scale's zero until the first one. Every
// log stamp and the closing countdown use it, never the machine's own clock.
extern DateTime ServerNow;

// Splits a reply body into lines ended by CR LF, a lone CR or a lone LF. A NUL ends the text; a
// last line without a line end counts; a line end at the very end adds no empty line.
std::vector<std::string> SplitReplyLines(std::string_view body);

// Decodes the clock reply: lines 0-5 hold year, month, day, hour, minute and second; later lines
// are ignored. Throws ListIndexError for a missing line, ConvertError for a line that is not an
// integer or a field out of its range.
DateTime DecodeClockReply(std::string_view body);

}  // namespace hw
