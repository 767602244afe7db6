#include "shell/Beep.h"

#include <QApplication>

namespace hw {
namespace {
int beeps = 0;
}

void Beep() {
  ++beeps;
  QApplication::beep();
}

int BeepCount() { return beeps; }

}  // namespace hw
