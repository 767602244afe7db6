#pragma once
#include <memory>
#include <string>
#include <vector>

namespace hw {

class MessageBoxes;

// Process-level tests run the real program without a person in front of it. Only a test build of
// the program (configured with HOSTWARDEN_BUILD_TESTS) honours the switches below; a shipped build
// ignores them, so nothing in a user's environment can change what it does.
//
// The account's switches, and the trusted update key that HOSTWARDEN_TEST_UPDATE_KEY names.
void ApplyTestBuildSwitches();

// HOSTWARDEN_TEST_TRACE names a trace file: every message box is written there and answered with
// its default button instead of being shown, and the start-up notes the milestones a test waits for.
bool TestTraceEnabled();
void TraceLine(const std::string& line);
std::unique_ptr<MessageBoxes> MakeTracedBoxes();

// HOSTWARDEN_TEST_ACTIONS: comma-separated names of menu items, buttons and timers that the program
// triggers, in this order, once its event loop runs (as a person would choose them); "name*N"
// chooses one N times.
std::vector<std::string> TestActions();

}  // namespace hw
