#include "settings/Reminders.h"

#include "settings/SettingsStore.h"

namespace hw {

bool RemindWanted() {
  SettingsAccess settings;
  if (!settings.OpenSettings(false)) return false;
  return settings.SettingExists("Remind") ? settings.ReadFlag("Remind") : true;
}

}  // namespace hw
