// The updater, "loader.exe": started by the client beside a downloaded build, it puts the build in
// place when the project signed it, and starts the client again.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "loader/Updater.h"
#include "platform/ProgramFolder.h"
#include "platform/TestSwitches.h"
#include "update/TrustedKey.h"

int main() {
  try {
    hw::EnterProgramFolder();
    // A test build trusts the key its test names, and waits for the client as long as the test says.
    const char* testKey = hw::TestSwitch("HOSTWARDEN_TEST_UPDATE_KEY");
    const char* testWait = hw::TestSwitch("HOSTWARDEN_TEST_LOADER_WAIT_MS");
    if (testKey) hw::SetTrustedUpdateKey(testKey);
    const int waitMs = testWait ? std::atoi(testWait) : 60000;
    const std::string outcome = hw::RunUpdater(waitMs);
    std::fprintf(stderr, "loader: %s\n", outcome.c_str());
    hw::TestTraceLine("loader: " + outcome);
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "loader: %s\n", error.what());
    return 1;
  }
}
