// The notice window: countdown and closed notices, the reminder choice, the slide and the link.
#include <QWindow>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QScreen>
#include <QTest>
#include <QUrl>

#include "settings/UserChoices.h"
#include "shell/ProgramExit.h"
#include "widgets/support/WindowsFixture.h"

namespace {

class NoticeWindow : public WindowsFixture {
 protected:
  QPoint RestingPlace() const {
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    return {area.right() + 1 - notice->width(), area.bottom() + 1 - notice->height() - 30};
  }
};

TEST_F(NoticeWindow, CountdownSlidesInOnceAndLaterOnlyChangesTheText) {
  SeedFlag("REG", false);  // the key exists, "Remind" is absent: reminders wanted
  hw::ServerNow = *hw::DateTime::FromParts(2013, 6, 15, 10, 0, 0, 0);
  main->showclose();
  EXPECT_TRUE(notice->isVisible());
  EXPECT_EQ(notice->pos(), RestingPlace());
  EXPECT_EQ(notice->Label1->text().toStdString(), "Our DDNS service will be \r\n15 days close");

  notice->move(10, 10);  // wherever it is, a second countdown does not slide it again
  hw::ServerNow = *hw::DateTime::FromParts(2013, 6, 29, 12, 0, 0, 0);
  main->showclose();
  EXPECT_EQ(notice->pos(), QPoint(10, 10));
  EXPECT_EQ(notice->Label1->text().toStdString(), "Our DDNS service will be \r\n1 days close");
}

TEST_F(NoticeWindow, NoReminderWantedShowsNothingAndChangesNoText) {
  struct Case {
    const char* name;
    bool createKey;
    bool remind;
  };
  for (const Case c : {Case{"Remind 0", true, false}, Case{"no settings key", false, true}}) {
    if (c.createKey) SeedFlag("Remind", c.remind);
    notice->Label1->setText("before");
    main->showclose();
    EXPECT_FALSE(notice->isVisible()) << c.name;
    EXPECT_EQ(notice->Label1->text(), "before") << c.name;
  }
}

TEST_F(NoticeWindow, ClosedNoticeShowsEvenWithoutRemindersAndLogsItsLine) {
  SeedFlag("Remind", false);
  main->ShowServiceClosed();
  EXPECT_TRUE(notice->isVisible());
  EXPECT_EQ(notice->pos(), RestingPlace());
  EXPECT_EQ(notice->Label1->text().toStdString(), "Our DDNS service\n\rhas been closed.");
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"[Saturday 00:00] Our DDNS service has been closed."}));
}

TEST_F(NoticeWindow, CloseButtonOnlyHidesAndTheNextCountdownSlidesAgain) {
  SeedFlag("REG", false);
  main->showclose();
  notice->Button1->click();
  EXPECT_FALSE(notice->isVisible());
  notice->move(0, 0);
  main->showclose();
  EXPECT_TRUE(notice->isVisible());
  EXPECT_EQ(notice->pos(), RestingPlace());
}

TEST_F(NoticeWindow, DoNotRemindStoresTheNegationAtEveryChange) {
  SeedFlag("REG", false);
  notice->CheckBox1->click();
  EXPECT_FALSE(hw::RemindWanted());
  QTest::mouseClick(notice->Label3, Qt::LeftButton);  // the label toggles the box back
  EXPECT_FALSE(notice->CheckBox1->isChecked());
  EXPECT_TRUE(hw::RemindWanted());
  hw::SettingsAccess settings;
  ASSERT_TRUE(settings.OpenSettings(false));
  EXPECT_TRUE(settings.SettingExists("Remind")) << "unticking stores true rather than deleting";
}

TEST_F(NoticeWindow, DoNotRemindStoresNothingWithoutTheKey) {
  notice->CheckBox1->click();
  hw::SettingsAccess settings;
  EXPECT_FALSE(settings.OpenSettings(false)) << "the box must not create the key";
}

TEST_F(NoticeWindow, CaptionsFollowTheUsersLanguage) {
  struct Case {
    const char* locale;
    const char* link;
    const char* remind;
    const char* close;
  };
  const Case cases[] = {{"en_US.UTF-8", "Find other DDNS", "Do not remind", "Close"},
                        {"de_DE.UTF-8", "Find other DDNS", "Do not remind", "Close"},
                        {"zh_TW.UTF-8", "找尋其他免費的DDNS服務", "不再提醒", "關閉"}};
  for (const Case& c : cases) {
    setenv("LC_ALL", c.locale, 1);
    hw::TForm3 window;
    window.FormCreate();
    EXPECT_EQ(window.Label2->text().toStdString(), c.link) << c.locale;
    EXPECT_EQ(window.Label3->text().toStdString(), c.remind) << c.locale;
    EXPECT_EQ(window.Button1->text().toStdString(), c.close) << c.locale;
  }
}

TEST_F(NoticeWindow, ChineseUsersGetTheChineseNoticeTexts) {
  setenv("LC_ALL", "zh_TW.UTF-8", 1);
  SeedFlag("REG", false);
  hw::ServerNow = *hw::DateTime::FromParts(2013, 6, 29, 12, 0, 0, 0);
  main->showclose();
  EXPECT_EQ(notice->Label1->text().toStdString(), "我們的 DDNS 服務將於 \r\n1 天後關閉");
  main->ShowServiceClosed();
  EXPECT_EQ(notice->Label1->text().toStdString(), "我們的 DDNS 服務\n\r已經關閉");
}

class UrlRecorder : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> opened;
 public slots:
  void open(const QUrl& url) { opened.append(url); }
};

TEST_F(NoticeWindow, LinkOpensTheWebSearch) {
  UrlRecorder recorder;
  QDesktopServices::setUrlHandler("http", &recorder, "open");
  QTest::mouseClick(notice->Label2, Qt::LeftButton);
  QDesktopServices::unsetUrlHandler("http");
  ASSERT_EQ(recorder.opened.size(), 1);
  EXPECT_EQ(recorder.opened[0].toString().toStdString(), "http://www.google.com/search?q=free+ddns");
}

// On Linux desktops a close request (Alt+F4, a compositor's kill) is how a user dismisses a popup:
// it hides the notice as its own button does, and the program goes on keeping the name up to date.
TEST_F(NoticeWindow, CloseRequestFromTheWindowSystemOnlyHidesIt) {
  SeedFlag("REG", false);
  hw::ServerNow = *hw::DateTime::FromParts(2013, 6, 15, 10, 0, 0, 0);
  main->showclose();
  ASSERT_TRUE(notice->isVisible());
  ASSERT_TRUE(notice->windowHandle()->close());  // as the window system asks
  EXPECT_FALSE(notice->isVisible());
  EXPECT_FALSE(hw::ProgramExitRequested());
  main->showclose();
  EXPECT_TRUE(notice->isVisible()) << "the next notice comes as before";
}

// On a desktop with several monitors the primary one need not start at 0,0, and panels take part
// of it: the notice slides up within the primary screen's available area, wherever that lies.
TEST(NoticeSlide, StaysWithinTheAvailableAreaOfThePrimaryScreen) {
  const QRect area(1920, 100, 1280, 984);  // a primary screen right of another, a panel at its top
  const QSize window(255, 200);
  const QPoint first = hw::TForm3::SlidePosition(area, window, 0);
  const QPoint rest = hw::TForm3::SlidePosition(area, window, hw::TForm3::kSlideSteps - 1);
  EXPECT_EQ(first, QPoint(1920 + 1280 - 255, 100 + 984 - 200 + 270)) << "starts below the area";
  EXPECT_EQ(rest, QPoint(1920 + 1280 - 255, 100 + 984 - 200 - 30)) << "rests 30 pixels above its bottom";
}

}  // namespace

#include "notice_window_test.moc"
