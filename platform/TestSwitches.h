#pragma once
#include <string>

namespace hw {

// The value of a test switch (an environment variable named HOSTWARDEN_TEST_...), or null. Only a
// test build of the project honours them; in a shipped build this is always null, so nothing in a
// user's environment can change what the programs do.
const char* TestSwitch(const char* name);

// Appends a line to the file that HOSTWARDEN_TEST_TRACE names, when it names one: the milestones a
// process test waits for.
void TestTraceLine(const std::string& line);

}  // namespace hw
