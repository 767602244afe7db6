// Runs widget tests inside the program's application object on the offscreen platform, so no display is needed.
#include <cstdlib>
#include "shell/ErrorDisplay.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // A classic tray, the desktop the program was first made for, unless a test chooses another kind.
  setenv("HOSTWARDEN_TEST_TRAY_HOST", "xembed", 0);
  hw::HostwardenApplication app(argc, argv);  // the program's own error display
  Q_INIT_RESOURCE(assets);                    // the artwork lives in a static library
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
