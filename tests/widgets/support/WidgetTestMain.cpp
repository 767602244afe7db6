// Runs widget tests inside one QApplication on the offscreen platform, so no display is needed.
#include <QApplication>
#include <cstdlib>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  Q_INIT_RESOURCE(assets);  // the artwork lives in a static library
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
