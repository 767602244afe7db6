// The main window and its tray icon as the user meets them, driven through their real inputs.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QScreen>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>

#include "account/Unit2.h"
#include "app/Unit1.h"
#include "shell/ProgramExit.h"
#include "shell/StatusNotifierItem.h"
#include "widgets/support/WindowsFixture.h"
#include "widgets/support/Wiring.h"

namespace {

using hw::TForm1;

// The tray icon's pixels as shown, compared with the artwork.
QImage Shown(TForm1& form) { return form.CoolTrayIcon1->Icon().icon().pixmap(16, 16).toImage(); }
QImage Artwork(const char* resource) { return QIcon(resource).pixmap(16, 16).toImage(); }
bool ShowsLogo(TForm1& form) { return Shown(form) == Artwork(":/logo16.png"); }
bool ShowsNothing(TForm1& form) {
  const QImage image = Shown(form);
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (qAlpha(image.pixel(x, y)) != 0) return false;
  return true;
}

QTimer& BlinkTimer(TForm1& form) { return *form.CoolTrayIcon1->findChild<QTimer*>(); }

TEST(TrayIcon, BlinksEvery400MillisecondsUntilADoubleClickShowsTheWindow) {
  TForm1 form;
  EXPECT_FALSE(form.CoolTrayIcon1->IsVisible()) << "hidden until the start-up shows it";
  ASSERT_TRUE(ShowsLogo(form));
  ASSERT_FALSE(ShowsNothing(form));

  form.CoolTrayIcon1->StartBlinking();
  EXPECT_EQ(BlinkTimer(form).interval(), 400);
  std::vector<bool> logo{ShowsLogo(form)}, nothing{ShowsNothing(form)};
  for (int tick = 0; tick < 3; ++tick) {
    hwtest::FireTimer(BlinkTimer(form));
    logo.push_back(ShowsLogo(form));
    nothing.push_back(ShowsNothing(form));
  }
  EXPECT_EQ(logo, (std::vector<bool>{true, false, true, false}));
  EXPECT_EQ(nothing, (std::vector<bool>{false, true, false, true}));

  form.CoolTrayIcon1->StartBlinking();  // on the transparent image
  EXPECT_TRUE(ShowsLogo(form)) << "starting again restarts from the logo";

  hwtest::FireTimer(BlinkTimer(form));
  emit form.CoolTrayIcon1->Icon().activated(QSystemTrayIcon::Trigger);
  EXPECT_FALSE(form.isVisible()) << "a single click does nothing";
  emit form.CoolTrayIcon1->Icon().activated(QSystemTrayIcon::DoubleClick);
  EXPECT_TRUE(form.isVisible());
  EXPECT_FALSE(BlinkTimer(form).isActive());
  EXPECT_TRUE(ShowsLogo(form));
}

TEST(TrayIcon, ShowFromTheMenuStopsTheBlinkingOnTheLogo) {
  TForm1 form;
  form.CoolTrayIcon1->StartBlinking();
  hwtest::FireTimer(BlinkTimer(form));
  ASSERT_TRUE(ShowsNothing(form));
  form.Show1->trigger();
  EXPECT_TRUE(form.isVisible());
  EXPECT_FALSE(BlinkTimer(form).isActive());
  EXPECT_TRUE(ShowsLogo(form));
}

// On a StatusNotifierItem host (KDE, Xfce, waybar): the host's click shows the window, and the
// attention state is the item's status, with no blink timer waking the program.
TEST(TrayIcon, OnAStatusNotifierHostTheClickShowsAndAttentionIsTheItemsStatus) {
  TForm1 form;
  form.CoolTrayIcon1->UseHost(hw::TrayHostKind::StatusNotifier);
  form.CoolTrayIcon1->SetVisible(true);
  auto* item = form.CoolTrayIcon1->findChild<hw::StatusNotifierItem*>();
  ASSERT_NE(item, nullptr);
  QSignalSpy statusChanges(item, &hw::StatusNotifierItem::NewStatus);
  form.CoolTrayIcon1->StartBlinking();
  form.CoolTrayIcon1->StartBlinking();  // a second "@@" is no change of state
  EXPECT_EQ(item->Status(), "NeedsAttention");
  EXPECT_FALSE(BlinkTimer(form).isActive()) << "nothing per blink";
  EXPECT_FALSE(item->AttentionIconPixmap().isEmpty());
  EXPECT_EQ(statusChanges.count(), 1);

  item->Activate(0, 0);  // as the host calls it
  QCoreApplication::processEvents();
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(item->Status(), "Active");
  EXPECT_TRUE(item->AttentionIconPixmap().isEmpty()) << "no attention picture once it is over";
  EXPECT_EQ(statusChanges.count(), 2);
}

TEST(MainWindow, ShowBringsAMinimisedWindowBack) {
  TForm1 form;
  form.Show1->trigger();
  form.showMinimized();
  ASSERT_TRUE(form.isMinimized());
  form.Show1->trigger();
  EXPECT_FALSE(form.isMinimized());
  EXPECT_TRUE(form.isVisible());
}

// With no tray the window is the program's only presence: it comes by itself, has a taskbar entry,
// and closing it asks whether to end the program (OK) or keep it running minimised (Cancel). A tray
// that comes takes the window back behind the icon.
using StandAlone = WindowsFixture;

TEST_F(StandAlone, WithoutATrayTheWindowStandsOnItsOwn) {
  TForm1& form = *main;
  form.CoolTrayIcon1->SetVisible(true);  // what the start-up does
  ASSERT_FALSE(form.isVisible());
  form.CoolTrayIcon1->UseHost(hw::TrayHostKind::None);
  EXPECT_TRUE(form.isVisible()) << "never running with nothing of it on screen";
  EXPECT_FALSE(form.windowFlags().testFlag(Qt::Tool)) << "a normal window, in the taskbar";

  boxes.answer = hw::BoxAnswer::Cancel;
  form.close();
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text.substr(0, 47), "There is no notification area on this desktop, ");
  EXPECT_TRUE(form.isMinimized());
  EXPECT_FALSE(hw::ProgramExitRequested());

  form.CoolTrayIcon1->UseHost(hw::TrayHostKind::XEmbed);
  EXPECT_TRUE(form.windowFlags().testFlag(Qt::Tool));
  EXPECT_FALSE(form.isVisible()) << "minimised, it goes behind the icon that came";
  form.Show1->trigger();
  form.close();
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(boxes.shown.size(), 1u) << "with a tray, closing only hides";

  form.CoolTrayIcon1->UseHost(hw::TrayHostKind::None);
  boxes.answer = hw::BoxAnswer::Ok;
  form.close();
  EXPECT_TRUE(hw::ProgramExitRequested());
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
    QTest::mouseClick(c.label, Qt::LeftButton);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), c.text);
  }
  QGuiApplication::clipboard()->setText("previous content");
  QTest::mouseClick(form.Label5, Qt::RightButton);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "previous content") << "only a left click copies";
}

TEST(MainWindow, CentredWhenFirstShownThenWhereTheUserLeftIt) {
  TForm1 form;
  form.Show1->trigger();
  const QPoint screenCentre = QGuiApplication::primaryScreen()->geometry().center();
  EXPECT_EQ(form.frameGeometry().center(), screenCentre);
  EXPECT_EQ(form.Image1->pixmap().size(), QSize(400, 80)) << "the banner, decoded at the first show";

  form.move(40, 50);
  form.close();
  EXPECT_FALSE(form.isVisible()) << "closing only hides";
  form.Show1->trigger();
  EXPECT_TRUE(form.isVisible()) << "the tray brings it back";
  EXPECT_EQ(form.pos(), QPoint(40, 50));
}

TEST(MainWindow, LogHasTheFocusFirstAndTabGoesToRegisterThenRelease) {
  TForm1 form;
  form.Show1->trigger();
  QApplication::setActiveWindow(&form);
  EXPECT_TRUE(form.ListBox1->View()->hasFocus()) << "the log is first";
  QTest::keyClick(form.ListBox1->View(), Qt::Key_Tab);
  EXPECT_TRUE(form.Button2->hasFocus());
  QTest::keyClick(form.Button2, Qt::Key_Tab);
  EXPECT_TRUE(form.Button3->hasFocus());
  QTest::keyClick(form.Button3, Qt::Key_Tab);
  EXPECT_TRUE(form.ListBox1->View()->hasFocus()) << "and comes after the last";
}

TEST(MainWindow, RegisterButtonStopsTheCycleAndOpensTheDialogUntilItCloses) {
  TForm1 form;
  hw::TForm2 dialog;
  hw::Form1 = &form;
  hw::Form2 = &dialog;
  form.Timer1->start();
  form.Show1->trigger();
  QTest::mouseClick(form.Button2, Qt::LeftButton);
  EXPECT_FALSE(form.Timer1->isActive());
  EXPECT_FALSE(form.isEnabled());
  EXPECT_TRUE(dialog.isVisible());

  QApplication::setActiveWindow(&form);
  form.Show1->trigger();
  QCoreApplication::processEvents();
  EXPECT_EQ(QApplication::activeWindow(), &dialog) << "Show brings the open dialog forward";

  dialog.close();
  EXPECT_TRUE(form.isEnabled());
  EXPECT_TRUE(form.Timer1->isActive());
  hw::Form1 = nullptr;
  hw::Form2 = nullptr;
}

// The tray menu is how the user reaches "Exit"; it must open and work while the registration
// dialog has the main window disabled.
TEST(MainWindow, TrayMenuWorksWhileTheWindowIsDisabled) {
  TForm1 form;
  form.setEnabled(false);
  form.PopupMenu1->popup(QPoint(20, 20));
  ASSERT_TRUE(form.PopupMenu1->isVisible());
  EXPECT_TRUE(form.PopupMenu1->isEnabled());
  QTest::mouseClick(form.PopupMenu1, Qt::LeftButton, {}, form.PopupMenu1->actionGeometry(form.Show1).center());
  EXPECT_TRUE(form.isVisible()) << "Show was chosen";
}

TEST(MainWindow, LogLinesGoToTheListAndUnchangedToStandardError) {
  TForm1 form;
  testing::internal::CaptureStderr();
  form.AddLogLine("[Saturday 00:00] ERROR: Socket Error # 10061\r\nConnection refused.");
  form.AddLogLine("unstamped line");
  const std::string written = testing::internal::GetCapturedStderr();
  ASSERT_EQ(form.ListBox1->count(), 2);
  EXPECT_EQ(form.ListBox1->Line(0).toStdString(),
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

}  // namespace
