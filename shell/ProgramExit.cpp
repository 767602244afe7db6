#include "shell/ProgramExit.h"

#include <QCoreApplication>

namespace hw {
namespace {
bool exitRequested = false;
}

void RequestProgramExit() {
  exitRequested = true;
  // Not quit(): that asks every visible window to close first, and the main window, which only
  // hides when closed, would veto the end. exit() ends the loops once the running handlers return.
  QCoreApplication::exit(0);
}

bool ProgramExitRequested() { return exitRequested; }

void ForgetProgramExitRequest() { exitRequested = false; }

}  // namespace hw
