// The service's version reply, read as the client reads it: its first seven characters.
#include "common/AppError.h"
#include "fuzz/FuzzInput.h"
#include "update/Version.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    const hw::VersionWords offered = hw::ParseVersion(AsText(data, size).substr(0, 7));
    hw::IsNewerVersion(hw::VersionWords{65539, 0}, offered);
    hw::VersionText(offered);
  } catch (const hw::AppError&) {
  }
  return 0;
}
