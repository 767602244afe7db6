#include "core/TestBuildSwitches.h"

#include "ddns/ServiceEndpoints.h"
#include "platform/TestSwitches.h"
#include "settings/SettingsStore.h"
#include "update/TrustedKey.h"

namespace hw {

void ApplyTestBuildSwitches() {
  if (const char* file = TestSwitch("HOSTWARDEN_TEST_SETTINGS_DB")) SetSettingsFile(file);
  if (const char* host = TestSwitch("HOSTWARDEN_TEST_SERVICE_HOST")) SetServiceHost(host);
  if (const char* key = TestSwitch("HOSTWARDEN_TEST_UPDATE_KEY")) SetTrustedUpdateKey(key);
}

}  // namespace hw
