#pragma once

namespace hw {

// The desktop's warning sound, for a key a field refuses.
void Beep();
// How many beeps this process has sounded (tests count the refusals).
int BeepCount();

}  // namespace hw
