#pragma once

namespace hw {

// A test build holds no real settings file, service address or update key: it uses the ones that
// HOSTWARDEN_TEST_SETTINGS_DB, HOSTWARDEN_TEST_SERVICE_HOST and HOSTWARDEN_TEST_UPDATE_KEY name,
// and none without them. A shipped build ignores them.
void ApplyTestBuildSwitches();

}  // namespace hw
