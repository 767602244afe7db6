#pragma once
#include <string>

namespace hw {

// Starts a program with no arguments in the given working directory, in a session of its own, and
// does not wait for it: it lives on when this process ends. False when it could not be started
// (a missing or non-executable file among others).
bool StartDetached(const std::string& program, const std::string& workingDir);

}  // namespace hw
