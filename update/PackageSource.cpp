#include "update/PackageSource.h"

#include <unistd.h>

#include "platform/TestSwitches.h"

namespace hw {

const char* PackageManagerUpdateTextId() {
  const char* tested = TestSwitch("HOSTWARDEN_TEST_APT_SOURCE");
  return ::access(tested ? tested : "/etc/apt/sources.list.d/hostwarden.sources", F_OK) == 0 ? "34" : "29";
}

}  // namespace hw
