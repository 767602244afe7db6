#pragma once
#include <string>

namespace hw {

// Full path of the running executable, as it was when first asked (a later replacement of the file
// does not change it).
std::string ProgramFile();
// The executable's file name without its folder; "Hostwarden" when it cannot be found, so that the
// texts made from it (box titles, the download's agent name) are never empty.
std::string ProgramFileName();
// The folder that holds the executable (without a trailing slash).
std::string ProgramFolder();
// Makes the program folder the working directory, so relative names (lang.ini, update files) are
// found beside the executable whatever folder the program was started from. Throws on failure.
void EnterProgramFolder();

}  // namespace hw
