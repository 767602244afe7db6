#include "settings/Reminders.h"

#include <optional>

#include "platform/FileStamp.h"
#include "settings/SettingsStore.h"

namespace hw {
namespace {

bool ReadRemindSetting() {
  SettingsAccess settings;
  if (!settings.OpenSettings(false)) return false;
  return settings.SettingExists("Remind") ? settings.ReadFlag("Remind") : true;
}

}  // namespace

bool RemindWanted() {
  // Every query asks. While the file is as it was when last read (the same file with the same
  // stamp and database change counter, and no write by this program), the answer is the same, and
  // the settings are not opened: that would load the database library at every tick. The state is
  // taken before the reading, so a write meanwhile makes the next question read again.
  static FileWatch watch;
  static std::optional<unsigned> changes;
  static unsigned writes = 0;
  static std::optional<bool> remind;
  const bool fileUnchanged = watch.Unchanged(SettingsFile());
  const std::optional<unsigned> changesNow = SettingsChangeCounter();
  const unsigned writesNow = SettingsWriteCount();
  if (!remind || !fileUnchanged || !changesNow || changesNow != changes || writesNow != writes) {
    changes = changesNow;
    writes = writesNow;
    remind = ReadRemindSetting();
  }
  return *remind;
}

}  // namespace hw
