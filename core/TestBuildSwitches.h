#pragma once

namespace hw {

// A test build holds no real settings file or service address: it uses the ones that
// HOSTWARDEN_TEST_SETTINGS_DB and HOSTWARDEN_TEST_SERVICE_HOST name, and none without them. A
// shipped build ignores them.
void ApplyAccountTestSwitches();

}  // namespace hw
