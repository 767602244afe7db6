#pragma once
#include <string>

namespace hw {

// The daemon's commands; each returns its exit status (ExitCodes.h).
// The choices "run" takes on its command line, on top of those in the settings.
struct RunChoices {
  bool dualStack = false;
  bool watchAddress = false;
};

int RunCommand(const RunChoices& choices);
// "set dual-stack on|off", "set watch-address on|off": the choice kept in the settings.
int SetCommand(const std::string& choice, const std::string& value);
int RegisterCommand(const std::string& typedName);
int ReleaseCommand(bool confirmed);
int StatusCommand();

}  // namespace hw
