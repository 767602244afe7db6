#include "update/PackageSource.h"

#include <unistd.h>

#include "platform/TestSwitches.h"

namespace hw {

bool RepositoryConfigured() {
  const char* tested = TestSwitch("HOSTWARDEN_TEST_APT_SOURCE");
  return ::access(tested ? tested : "/etc/apt/sources.list.d/hostwarden.sources", F_OK) == 0;
}

}  // namespace hw
