// The service's clock reply.
#include "common/AppError.h"
#include "fuzz/FuzzInput.h"
#include "lifetime/ServerClock.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    hw::DecodeClockReply(AsText(data, size));
  } catch (const hw::AppError&) {
  }
  return 0;
}
