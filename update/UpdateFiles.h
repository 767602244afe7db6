#pragma once

namespace hw {

// The files of the self-update, beside the program (the working directory, which is the program
// folder). The names are the updater's contract and stay as they are.
inline constexpr const char* kUpdateFile = "hostwarden.ex_";     // a downloaded build
inline constexpr const char* kLoaderFile = "loader.exe";         // the updater
inline constexpr const char* kLoaderReplacement = "loader.ex_";  // a new updater, waiting
inline constexpr const char* kClientFile = "Hostwarden";         // the client the updater replaces

// When a new updater waits, the old one is deleted and the new one takes its name, never replacing
// a file of that name; a failure (the updater still running, say) is ignored and tried again later.
void PromoteLoader();

}  // namespace hw
