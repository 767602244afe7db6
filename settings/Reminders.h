#pragma once

namespace hw {

// Whether the user wants closing-date reminders: the "Remind" setting, true when it is absent,
// false when the settings key cannot be opened (for example right after a release deleted it). The
// file is opened only when it has changed since the last answer.
bool RemindWanted();

}  // namespace hw
