#pragma once
#include <memory>
#include <string>

namespace hw {

class MessageBoxes;

// Process-level tests run the real program without a person in front of it. When the environment
// names a trace file in HOSTWARDEN_TEST_TRACE, every message box is written there and answered with
// its default button instead of being shown, and the start-up notes the milestones a test waits for.
bool TestTraceEnabled();
void TraceLine(const std::string& line);
std::unique_ptr<MessageBoxes> MakeTracedBoxes();

}  // namespace hw
