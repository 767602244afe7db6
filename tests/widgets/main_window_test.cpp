// The main window and its tray icon as the user meets them.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QTimer>

#include "app/LogStamp.h"
#include "app/ProgramExit.h"
#include "app/Unit1.h"
#include "lifetime/DateTime.h"

namespace {

using hw::TForm1;
using hw::TrayIcon;

TEST(TrayBlinking, AlternatesFromTheLogoAndStopsOnTheLogo) {
  TForm1 form;
  TrayIcon& tray = *form.CoolTrayIcon1;
  EXPECT_FALSE(tray.IsVisible()) << "hidden until the start-up shows it";

  tray.StartBlinking();
  EXPECT_TRUE(tray.IsBlinking());
  std::vector<int> images{tray.ImageIndex()};
  for (int step = 0; step < 4; ++step) {
    tray.AdvanceBlink();
    images.push_back(tray.ImageIndex());
  }
  EXPECT_EQ(images, (std::vector<int>{0, 1, 0, 1, 0}));

  tray.AdvanceBlink();  // on the transparent image
  tray.StartBlinking();
  EXPECT_EQ(tray.ImageIndex(), 0) << "starting again restarts from the logo";

  tray.AdvanceBlink();
  form.Show1Click();
  EXPECT_FALSE(tray.IsBlinking());
  EXPECT_EQ(tray.ImageIndex(), TrayIcon::kLogoImage);
  EXPECT_TRUE(form.isVisible());
}

TEST(TrayBlinking, BlinksEvery400Milliseconds) {
  TForm1 form;
  form.CoolTrayIcon1->StartBlinking();
  const auto timers = form.CoolTrayIcon1->findChildren<QTimer*>();
  ASSERT_EQ(timers.size(), 1);
  EXPECT_EQ(timers.front()->interval(), 400);
  EXPECT_TRUE(timers.front()->isActive());
}

TEST(MainWindow, LabelClickPutsItsExactTextOnTheClipboard) {
  TForm1 form;
  struct Case {
    hw::ClickableLabel* label;
    QString text;
  };
  const Case cases[] = {{form.Label5, "alice.hostwarden.test"},
                        {form.Label6, QString::fromUtf8("payload with  blanks \xE2\x9C\x93")},
                        {form.Label6, ""}};
  for (const Case& c : cases) {
    QGuiApplication::clipboard()->setText("previous content");
    c.label->setText(c.text);
    emit c.label->clicked();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), c.text);
  }
}

TEST(MainWindow, ClosingOnlyHidesTheWindow) {
  TForm1 form;
  form.CoolTrayIcon1->SetVisible(true);
  form.Show1Click();
  ASSERT_TRUE(form.isVisible());
  form.close();
  EXPECT_FALSE(form.isVisible());
  EXPECT_TRUE(form.CoolTrayIcon1->IsVisible());
  form.Show1Click();
  EXPECT_TRUE(form.isVisible()) << "the tray brings it back";
}

TEST(MainWindow, LogLinesGoToTheListAndUnchangedToStandardError) {
  TForm1 form;
  testing::internal::CaptureStderr();
  form.AddLogLine("[Saturday 00:00] ERROR: Socket Error # 10061\r\nConnection refused.");
  form.AddLogLine("unstamped line");
  const std::string written = testing::internal::GetCapturedStderr();
  ASSERT_EQ(form.ListBox1->count(), 2);
  EXPECT_EQ(form.ListBox1->item(0)->text().toStdString(),
            "[Saturday 00:00] ERROR: Socket Error # 10061\r\nConnection refused.");
  EXPECT_EQ(written, "[Saturday 00:00] ERROR: Socket Error # 10061\r\nConnection refused.\nunstamped line\n");
}

TEST(MainWindow, DesignedCaptionsAndLayout) {
  TForm1 form;
  EXPECT_EQ(form.windowTitle(), "Orvane DDNS Client");
  EXPECT_EQ(form.size(), QSize(402, 314));
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(form.Button2->text(), "Register a Domain Name");
  EXPECT_EQ(form.Button3->text(), "Release this Domain");
  EXPECT_EQ(form.Label1->text(), "Lable1");
  EXPECT_EQ(form.Timer1->interval(), 600000);
  EXPECT_FALSE(form.Timer1->isActive());
  EXPECT_EQ(form.PopupMenu1->actions().size(), 2);
  EXPECT_EQ(form.PopupMenu1->defaultAction(), form.Show1);
  EXPECT_EQ(form.Show1->text(), "Show");
  EXPECT_EQ(form.Exit1->text(), "Exit");
  EXPECT_TRUE(form.Show1->font().bold());
}

// Exit stops the event loop once the running handlers have returned.
TEST(MainWindow, ExitEndsTheEventLoop) {
  TForm1 form;
  QTimer::singleShot(0, &form, [&] { form.Exit1->trigger(); });
  bool watchdogFired = false;
  QTimer watchdog;
  watchdog.setSingleShot(true);
  QObject::connect(&watchdog, &QTimer::timeout, [&] {
    watchdogFired = true;
    QCoreApplication::exit(1);
  });
  watchdog.start(30000);
  EXPECT_EQ(QCoreApplication::exec(), 0);
  EXPECT_FALSE(watchdogFired);
  EXPECT_TRUE(hw::ProgramExitRequested());
}

struct StampCase {
  const char* locale;
  hw::DateTime when;
  std::string expected;
};

TEST(LogStamp, WeekdayInTheUsersLocaleAndTwentyFourHourClock) {
  const hw::DateTime monday = *hw::DateTime::FromParts(2013, 6, 17, 9, 5, 59, 0);
  const StampCase cases[] = {
      {"en_US.UTF-8", hw::DateTime(), "[Saturday 00:00]"},
      {"en_US.UTF-8", monday, "[Monday 09:05]"},
      {"de_DE.UTF-8", monday, "[Montag 09:05]"},
      {"zh_TW.UTF-8", monday, "[週一 09:05]"},
      {"en_US.UTF-8", *hw::DateTime::FromParts(2013, 6, 16, 23, 59, 0, 0), "[Sunday 23:59]"},
  };
  for (const StampCase& c : cases) {
    setenv("LC_ALL", c.locale, 1);
    EXPECT_EQ(hw::FormatLogStamp(c.when), c.expected) << c.locale;
  }
  unsetenv("LC_ALL");
}

}  // namespace
