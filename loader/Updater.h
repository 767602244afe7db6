#pragma once
#include <string>

namespace hw {

// What the updater does, once started by the client in the program folder:
// 1. waits until the client has ended (its single-instance guard is free), at most `waitMs`;
// 2. reads "hostwarden.ex_" and checks it: a build signed by `publicKey` (hex), whole, and newer
//    than the client's file;
// 3. a valid build replaces the client's file atomically, keeping its permission bits;
// 4. removes "hostwarden.ex_" whatever the check said, so a refused file never blocks later updates;
// 5. starts the client again, detached.
// Returns what happened, one line for the journal.
std::string RunUpdater(const std::string& publicKey, int waitMs);

}  // namespace hw
