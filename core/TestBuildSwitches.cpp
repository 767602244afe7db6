#include "core/TestBuildSwitches.h"

#include "ddns/ServiceEndpoints.h"
#include "platform/TestSwitches.h"
#include "settings/SettingsStore.h"

namespace hw {

void ApplyAccountTestSwitches() {
  if (const char* file = TestSwitch("HOSTWARDEN_TEST_SETTINGS_DB")) SetSettingsFile(file);
  if (const char* host = TestSwitch("HOSTWARDEN_TEST_SERVICE_HOST")) SetServiceHost(host);
}

}  // namespace hw
