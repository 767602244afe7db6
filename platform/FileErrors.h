#pragma once
#include <string>

namespace hw {

// The runtime's text for a file operation's failure, by the system's error number: the texts users
// of the client know from its update errors ("File not found", "Invalid filename", "Too many open
// files", "File access denied", "Disk full", else "I/O error <number>").
std::string FileErrorText(int errnoValue);

}  // namespace hw
