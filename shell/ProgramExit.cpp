#include "shell/ProgramExit.h"

#include <QCoreApplication>

namespace hw {
namespace {
bool exitRequested = false;
}

void RequestProgramExit() {
  exitRequested = true;
  QCoreApplication::quit();
}

bool ProgramExitRequested() { return exitRequested; }

}  // namespace hw
