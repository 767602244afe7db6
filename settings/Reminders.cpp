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

// The last answer, with the state of the file it was read from.
struct KnownAnswer {
  std::optional<FileStamp> stamp;
  std::optional<unsigned> changes;
  unsigned writes = 0;
  bool remind = false;
  bool Holds(const KnownAnswer& now) const {
    return stamp && changes && stamp == now.stamp && changes == now.changes && writes == now.writes;
  }
};

}  // namespace

bool RemindWanted() {
  // Every query asks. While the file is as it was when last read (the same file, its stamp and its
  // change counter unchanged, no write by this program), the answer is the same, and the settings
  // are not opened: that would load the database library at every tick.
  static std::optional<KnownAnswer> known;
  // The file's state is taken before the reading: a write meanwhile makes the next question read.
  KnownAnswer now{FileStamp::Of(SettingsFile()), SettingsChangeCounter(), SettingsWriteCount()};
  if (known && known->Holds(now)) return known->remind;
  now.remind = ReadRemindSetting();
  known = now;
  return now.remind;
}

}  // namespace hw
