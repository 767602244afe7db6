// The texts of the error boxes: title, full stop rule, and the report of an error outside the loop.
#include <gtest/gtest.h>

#include "common/AppError.h"
#include "shell/ErrorText.h"

namespace {

TEST(ErrorText, TitleIsTheProgramNameUpToItsFirstDot) {
  const std::pair<std::string, std::string> cases[] = {
      {"/opt/hostwarden/Hostwarden", "Hostwarden"},
      {"/x/HOSTWARDEN.EXE", "Hostwarden"},
      {"/x/host.warden.bin", "host"},
      {"loader.exe", "loader"},
  };
  for (const auto& [file, title] : cases) EXPECT_EQ(hw::ApplicationTitle(file), title) << file;
}

TEST(ErrorText, FullStopOnlyAfterCharactersThatSortAfterIt) {
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

TEST(ErrorText, UnhandledReportNamesTheErrorAndItsMessage) {
  const std::string report = hw::UnhandledErrorReport(hw::SettingsError("Invalid data type for 'REG'"));
  EXPECT_EQ(report.rfind("Exception hw::SettingsError in module error_text_test at ", 0), 0u) << report;
  EXPECT_NE(report.find(".\r\nInvalid data type for 'REG'\r\n"), std::string::npos) << report;
}

}  // namespace
