#pragma once
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <memory>

#include "account/Unit2.h"
#include "account/Unit4.h"
#include "app/Unit1.h"
#include "fixtures/ChildProcess.h"
#include "fixtures/TempDir.h"
#include "lifetime/ServerClock.h"
#include "lifetime/Unit3.h"
#include "settings/SettingsStore.h"
#include "shell/ProgramExit.h"
#include "widgets/support/RecordingBoxes.h"

// The four windows as the start-up creates them, in an English locale, with lang.ini in the working
// directory, a settings file of the test's own and boxes that answer at once.
class WindowsFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("LC_ALL", "en_US.UTF-8", 1);
    std::filesystem::copy_file(std::string(HW_SOURCE_DIR) + "/assets/lang.ini", folder.File("lang.ini"));
    previousDir = std::filesystem::current_path();
    std::filesystem::current_path(folder.path());
    hw::SetSettingsFile(folder.File("settings.db"));
    hw::ServerNow = hw::DateTime();
    hw::ForgetProgramExitRequest();
    notice = std::make_unique<hw::TForm3>();
    hw::Form3 = notice.get();
    main = std::make_unique<hw::TForm1>();
    hw::Form1 = main.get();
    registration = std::make_unique<hw::TForm2>();
    hw::Form2 = registration.get();
    registration->FormCreate();
    success = std::make_unique<hw::TForm4>();
    hw::Form4 = success.get();
  }

  void TearDown() override {
    hw::Form1 = nullptr;
    hw::Form2 = nullptr;
    hw::Form3 = nullptr;
    hw::Form4 = nullptr;
    success.reset();
    registration.reset();
    main.reset();
    notice.reset();
    std::filesystem::current_path(previousDir);
    unsetenv("LC_ALL");
  }

  // Writes settings the way earlier runs of the program left them.
  void SeedRegistered(const std::string& name, const std::string& passwordBase64) {
    hw::SettingsAccess settings;
    ASSERT_TRUE(settings.OpenSettings(true));
    settings.WriteText("username", name);
    settings.WriteText("password", passwordBase64);
    settings.WriteFlag("REG", true);
  }
  void SeedFlag(const std::string& name, bool value) {
    hw::SettingsAccess settings;
    ASSERT_TRUE(settings.OpenSettings(true));
    settings.WriteFlag(name, value);
  }

  std::vector<std::string> LogLines() const {
    std::vector<std::string> lines;
    for (int i = 0; i < main->ListBox1->count(); ++i) lines.push_back(main->ListBox1->Line(i).toStdString());
    return lines;
  }

  hwtest::TempDir folder;
  std::filesystem::path previousDir;
  RecordingBoxes boxes;
  std::unique_ptr<hw::TForm3> notice;
  std::unique_ptr<hw::TForm1> main;
  std::unique_ptr<hw::TForm2> registration;
  std::unique_ptr<hw::TForm4> success;
};
