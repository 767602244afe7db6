#pragma once
#include <string>

namespace hw {

// What the updater does, once started by the client in the program folder:
// 1. waits until the client has ended (its single-instance guard is free), at most `waitMs`;
// 2. refuses to work in a program folder that others may write;
// 3. reads "hostwarden.ex_" (a regular file only, never through a link, never waiting on it) and
//    checks it: a build signed by the trusted key, whole, newer than the client's file, and a
//    program that records the version its header names;
// 4. a valid build replaces the client's file atomically, keeping its permission bits (at most 0755);
// 5. removes "hostwarden.ex_" whatever the check said, so a refused file never blocks later updates;
// 6. starts the client again, detached.
// Returns what happened, one line for the journal.
std::string RunUpdater(int waitMs);

}  // namespace hw
