#pragma once

namespace hw {

// The value of a test switch (an environment variable named HOSTWARDEN_TEST_...), or null. Only a
// test build of the project honours them; in a shipped build this is always null, so nothing in a
// user's environment can change what the programs do.
const char* TestSwitch(const char* name);

}  // namespace hw
