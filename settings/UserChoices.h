#pragma once

namespace hw {

// The user's choices kept as numbers in the settings key (nonzero is on). Each is read again only
// when the settings file has changed since the last answer; a value of the wrong type fails the
// question with the store's error, as every number of the key does.

// The closing-date reminders ("Remind"): on when absent, off when the key cannot be opened (for
// example right after a release deleted it).
bool RemindWanted();
// A check over each address family ("DualStack"): off when absent or when the key cannot be opened.
bool DualStackWanted();
// An extra check soon after the machine's addresses change ("WatchAddress"): off when absent or
// when the key cannot be opened.
bool WatchAddressWanted();

}  // namespace hw
