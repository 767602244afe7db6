#pragma once
#include <string>

namespace hw {

// One program at a time keeps the account of a settings file: the tray client and the daemon each
// hold an exclusive advisory lock on the folder of the settings file while they run, whichever user
// they run as. The kernel drops it when the process ends, so a crashed program never blocks the next.
class SettingsLock {
 public:
  enum class State {
    Held,       // this process holds it now
    Taken,      // another program holds it
    Unguarded,  // the folder cannot be opened (then the settings cannot be used either)
  };
  SettingsLock() = default;
  ~SettingsLock();
  SettingsLock(const SettingsLock&) = delete;
  SettingsLock& operator=(const SettingsLock&) = delete;

  State Acquire();

 private:
  int fd_ = -1;
};

// The folder that holds the settings file ("." for a bare file name).
std::string SettingsFolder();

}  // namespace hw
