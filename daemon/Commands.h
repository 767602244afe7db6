#pragma once
#include <string>

namespace hw {

// The daemon's commands; each returns its exit status (ExitCodes.h).
int RunCommand();
int RegisterCommand(const std::string& typedName);
int ReleaseCommand(bool confirmed);
int StatusCommand();

}  // namespace hw
