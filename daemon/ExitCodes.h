#pragma once

namespace hw {

// What hostwarden-daemon's exit status says; the README lists them, and the system unit does not
// restart the daemon for the ones that need a person.
enum ExitCode : int {
  kExitDone = 0,          // ran until told to stop, or the command did what was asked
  kExitRefused = 1,       // the service turned the request down (name taken, account unknown)
  kExitUsage = 2,         // a command, option, name or password against the rules
  kExitNoAccount = 3,     // no account is registered (or the service no longer knows it)
  kExitUnreachable = 4,   // the service could not be reached, or gave no usable reply
  kExitSettings = 5,      // the settings file cannot be read or written
  kExitInUse = 6,         // another Hostwarden program keeps the account of this settings file
  kExitNoIdentity = 7,    // no network adapter identifies this machine
  kExitMissingFile = 8,   // lang.ini is missing beside the program
  kExitStopped = 130,     // a command (not the daemon itself) was interrupted in its request
};

}  // namespace hw
