#include "settings/UserChoices.h"

#include <optional>
#include <string>

#include "platform/FileStamp.h"
#include "settings/SettingsStore.h"

namespace hw {
namespace {

// One number of the key, with the answer kept while the file is as it was.
class CachedChoice {
 public:
  CachedChoice(const char* name, bool whenAbsent) : name_(name), whenAbsent_(whenAbsent) {}

  bool Wanted() {
    // Every query asks. While the file is as it was when last read (the same file with the same
    // stamp and database change counter, and no write by this program), the answer is the same,
    // and the settings are not opened: that would load the database library at every tick. The
    // state is taken before the reading, so a write meanwhile makes the next question read again.
    const bool fileUnchanged = watch_.Unchanged(SettingsFile());
    const std::optional<unsigned> changesNow = SettingsChangeCounter();
    const unsigned writesNow = SettingsWriteCount();
    if (!wanted_ || !fileUnchanged || !changesNow || changesNow != changes_ || writesNow != writes_) {
      changes_ = changesNow;
      writes_ = writesNow;
      wanted_.reset();   // a value that cannot be read keeps no answer: every query meets its error
      wanted_ = Read();
    }
    return *wanted_;
  }

 private:
  bool Read() const {
    SettingsAccess settings;
    if (!settings.OpenSettings(false)) return false;
    return settings.SettingExists(name_) ? settings.ReadFlag(name_) : whenAbsent_;
  }

  const std::string name_;
  const bool whenAbsent_;
  FileWatch watch_;
  std::optional<unsigned> changes_;
  unsigned writes_ = 0;
  std::optional<bool> wanted_;
};

}  // namespace

bool RemindWanted() {
  static CachedChoice remind("Remind", true);
  return remind.Wanted();
}

bool DualStackWanted() {
  static CachedChoice dualStack("DualStack", false);
  return dualStack.Wanted();
}

bool WatchAddressWanted() {
  static CachedChoice watchAddress("WatchAddress", false);
  return watchAddress.Wanted();
}

}  // namespace hw
