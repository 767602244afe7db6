// What the user sees when an error leaves a handler.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>

#include "app/ErrorDisplay.h"
#include "common/AppError.h"
#include "widgets/support/RecordingBoxes.h"

namespace {

TEST(ErrorDisplay, TitleIsTheProgramNameUpToItsFirstDot) {
  const std::pair<std::string, std::string> cases[] = {
      {"/opt/hostwarden/Hostwarden", "Hostwarden"},
      {"/x/HOSTWARDEN.EXE", "Hostwarden"},
      {"/x/host.warden.bin", "host"},
      {"loader.exe", "loader"},
  };
  for (const auto& [file, title] : cases) EXPECT_EQ(hw::ApplicationTitle(file), title) << file;
}

TEST(ErrorDisplay, FullStopOnlyAfterCharactersThatSortAfterIt) {
  const std::pair<std::string, std::string> cases[] = {
      {"List index out of bounds (3)", "List index out of bounds (3)"},  // ")" sorts before "."
      {"'x' is not a valid integer value", "'x' is not a valid integer value."},
      {"Connection Closed Gracefully.", "Connection Closed Gracefully."},
      {"Socket Error # 10061\r\nConnection refused.", "Socket Error # 10061\r\nConnection refused."},
      {"Failed to set data for 'REG'", "Failed to set data for 'REG'"},  // "'" sorts before "."
      {"HTTP/1.1 404 Not Found", "HTTP/1.1 404 Not Found."},
      {"ends in a digit 7", "ends in a digit 7."},
      {"", ""},
  };
  for (const auto& [message, shown] : cases) EXPECT_EQ(hw::ErrorBoxText(message), shown) << message;
}

TEST(ErrorDisplay, ErrorLeavingAnEventHandlerIsShownAndTheProgramRunsOn) {
  RecordingBoxes boxes;
  bool laterHandlerRan = false;
  QTimer::singleShot(0, [] { throw hw::ConvertError("'7 ' is not a valid integer value"); });
  QTimer::singleShot(0, [&] {
    laterHandlerRan = true;
    QCoreApplication::exit(0);
  });
  EXPECT_EQ(QCoreApplication::exec(), 0);
  EXPECT_TRUE(laterHandlerRan);
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, "'7 ' is not a valid integer value.");
  EXPECT_EQ(boxes.shown[0].icon, hw::BoxIcon::Error);
  EXPECT_EQ(boxes.shown[0].title, "error_display_test");  // the first letter stays as it is
}

TEST(ErrorDisplay, UnhandledReportNamesTheErrorAndItsMessage) {
  const std::string report = hw::UnhandledErrorReport(hw::SettingsError("Invalid data type for 'REG'"));
  EXPECT_EQ(report.rfind("Exception hw::SettingsError in module error_display_test at ", 0), 0u) << report;
  EXPECT_NE(report.find(".\r\nInvalid data type for 'REG'\r\n"), std::string::npos) << report;
}

}  // namespace
