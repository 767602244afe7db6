#pragma once

namespace hw {

// Asks the program to end: the event loop stops once the running handlers have returned. A request
// made before the loop runs (a tray "Exit" during the start-up's requests) is remembered, so the
// start-up ends the program instead of entering the loop.
void RequestProgramExit();
bool ProgramExitRequested();
// Forgets a request (tests that run several starts in one process).
void ForgetProgramExitRequest();

}  // namespace hw
