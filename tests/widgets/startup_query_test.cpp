// The start-up and the domain query against a scripted fake service.
#include "account/RegistrationOffer.h"
#include "ddns/Base64.h"
#include "ddns/Envelope.h"
#include "ddns/ServiceEndpoints.h"
#include "fixtures/FakeService.h"
#include "fixtures/SettingsSeed.h"
#include "i18n/LangTable.h"
#include "shell/ErrorDisplay.h"
#include "widgets/support/ServiceFixture.h"
#include "widgets/support/Wiring.h"

namespace {

using hwtest::Reply;

const std::string kClosedReading = "2013\n6\n30\n0\n0\n1\n";

struct MarkerCase {
  const char* reply;
  std::vector<std::string> log;  // before the countdown line
  const char* label6;
  bool unregistered;
};

TEST_F(ServiceFixture, QueryReplyMarkers) {
  const std::string stamp = "[Saturday 00:00] ";
  const MarkerCase cases[] = {
      {"##abc1234567", {stamp + Text("25", "abc")}, "abc", false},
      {"**xyz1234567", {stamp + Text("25", "xyz")}, "xyz", false},
      {"##", {stamp + Text("25")}, "", false},
      {"##1234567", {stamp + Text("25")}, "", false},
      {"@@", {stamp + Text("19")}, "unchanged", true},
      {"%%alice1234567", {stamp + Text("27", "alice")}, "unchanged", true},
      {"!!", {stamp + Text("18")}, "unchanged", false},
      {"^^", {stamp + Text("15")}, "unchanged", false},
      {"#x1234567", {}, "unchanged", false},
      {"#", {}, "unchanged", false},
      {"", {}, "unchanged", false},
  };
  SeedFlag("REG", true);
  for (const MarkerCase& c : cases) {
    main->ListBox1->clear();
    main->Label6->setText("unchanged");
    main->Button3->setEnabled(true);
    main->Timer1->start();
    main->UserName = "alice";
    main->Password = "secret";
    fake.Enqueue(Reply::Ok(c.reply));
    main->SendQuery("001122334455", "check");

    std::vector<std::string> expected = c.log;
    expected.push_back("[Notification] Our DDNS service will be 41456 days close");
    EXPECT_EQ(LogLines(), expected) << c.reply;
    EXPECT_EQ(main->Label6->text().toStdString(), c.label6) << c.reply;
    EXPECT_EQ(main->Timer1->isActive(), !c.unregistered) << c.reply;
    EXPECT_EQ(main->Button3->isEnabled(), !c.unregistered) << c.reply;
    EXPECT_EQ(main->CoolTrayIcon1->IsBlinking(), c.unregistered) << c.reply;
    if (c.unregistered) {
      EXPECT_EQ(main->Button2->text().toStdString(), Text("1")) << c.reply;
    }
    main->CoolTrayIcon1->StopBlinking();
  }
  const std::string lastRequest = fake.Requests().back();
  EXPECT_EQ(lastRequest.substr(0, 22), "POST /fo.php HTTP/1.0\r");
  EXPECT_EQ(lastRequest.substr(lastRequest.find("\r\n\r\n") + 4), hw::BuildEnvelope("alice", "secret", "001122334455"));
}

TEST_F(ServiceFixture, QueryUpdatedShowsTheHostNameOnTheBanner) {
  main->UserName = "alice";
  fake.Enqueue(Reply::Ok("##abc1234567"));
  main->SendQuery("001122334455", "del");
  EXPECT_EQ(main->Label5->text().toStdString(), "alice.hostwarden.test");
  EXPECT_EQ(fake.Requests().at(0).substr(0, 13), "POST /lk.php ");
  EXPECT_EQ(LogLines().size(), 1u) << "no settings key: no countdown line";
}

TEST_F(ServiceFixture, CountdownLineFollowsTheReminderSetting) {
  struct Case {
    const char* what;
    int remind;  // -1: key without "Remind"
    std::size_t lines;
  };
  for (const Case c : {Case{"Remind absent", -1, 2}, Case{"Remind 1", 1, 2}, Case{"Remind 0", 0, 1}}) {
    if (c.remind >= 0) {
      SeedFlag("Remind", c.remind == 1);
    } else {
      SeedFlag("REG", true);
    }
    main->ListBox1->clear();
    fake.Enqueue(Reply::Ok("!!"));
    main->SendQuery("001122334455", "check");
    EXPECT_EQ(LogLines().size(), c.lines) << c.what;
  }
}

TEST_F(ServiceFixture, TransportFailureLogsOneErrorLineThenTheCountdown) {
  SeedFlag("REG", true);
  fake.Enqueue(Reply::Raw("HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n"));
  main->SendQuery("001122334455", "check");
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"[Saturday 00:00] ERROR: HTTP/1.1 500 Internal Server Error",
                                                  "[Notification] Our DDNS service will be 41456 days close"}));
}

TEST_F(ServiceFixture, AccountTooLongForTheEnvelopeIsNotSent) {
  main->UserName = std::string(200, 'n');
  main->Password = std::string(100, 'p');
  main->SendQuery("001122334455", "check");
  EXPECT_TRUE(fake.Requests().empty());
  ASSERT_EQ(LogLines().size(), 1u);
  EXPECT_EQ(LogLines()[0], "[Saturday 00:00] ERROR: The account name and password are too long to be sent.");
}

TEST_F(ServiceFixture, StartupOutcomes) {
  SeedRegistered("alice", hw::EncodeBase64("secret"));
  fake.Enqueue(Reply::Ok(kClockOpen));
  fake.Enqueue(Reply::Ok(kClockOpen));
  fake.Enqueue(Reply::Ok("##203.0.113.7abcdefg"));
  hw::RunHandler([&] { main->FormCreate(); });

  EXPECT_TRUE(boxes.shown.empty());
  EXPECT_TRUE(main->CoolTrayIcon1->IsVisible());
  EXPECT_TRUE(main->Timer1->isActive());
  EXPECT_EQ(main->Button2->text().toStdString(), Text("2"));
  EXPECT_EQ(main->Button3->text().toStdString(), Text("3"));
  EXPECT_EQ(main->Label1->text().toStdString(), main->MachineId);
  EXPECT_EQ(main->UserName, "alice");
  EXPECT_EQ(main->Password, "secret");
  EXPECT_TRUE(notice->isVisible());
  EXPECT_EQ(notice->Label1->text().toStdString(), "Our DDNS service will be \r\n15 days close");
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"[Saturday 10:00] " + Text("25", "203.0.113.7"),
                                                  "[Notification] Our DDNS service will be 15 days close"}));
  ASSERT_EQ(fake.Requests().size(), 3u);
  EXPECT_EQ(fake.Requests()[2].substr(fake.Requests()[2].find("\r\n\r\n") + 4),
            hw::BuildEnvelope("alice", "secret", main->MachineId));
}

TEST_F(ServiceFixture, StartupWithoutAccountOrWithRegFalse) {
  struct Case {
    const char* what;
    int reg;  // -1: absent
    const char* button2;
  };
  for (const Case c : {Case{"no REG", -1, "Register a Domain Name"}, Case{"REG false", 0, nullptr}}) {
    if (c.reg >= 0) SeedFlag("REG", c.reg == 1);
    hw::TForm1 form;
    fake.Enqueue(Reply::Ok(kClockOpen));
    const std::size_t before = fake.Requests().size();
    hw::RunHandler([&] { form.FormCreate(); });
    EXPECT_EQ(fake.Requests().size() - before, 1u) << c.what;
    EXPECT_FALSE(form.Timer1->isActive()) << c.what;
    EXPECT_TRUE(form.CoolTrayIcon1->IsVisible()) << c.what;
    EXPECT_EQ(form.Button2->text().toStdString(), c.button2 ? c.button2 : Text("1")) << c.what;
    hw::SettingsAccess settings;
    EXPECT_TRUE(settings.OpenSettings(false)) << c.what << ": the key is created";
  }
}

TEST_F(ServiceFixture, StartupAfterTheClosingDate) {
  SeedRegistered("alice", hw::EncodeBase64("secret"));
  SeedFlag("Remind", false);  // the closed notice shows all the same
  fake.Enqueue(Reply::Ok(kClosedReading));
  fake.Enqueue(Reply::Ok(kClosedReading));
  hw::RunHandler([&] { main->FormCreate(); });
  EXPECT_EQ(fake.Requests().size(), 2u) << "no query";
  EXPECT_TRUE(main->Timer1->isActive());
  EXPECT_TRUE(notice->isVisible());
  EXPECT_EQ(notice->Label1->text().toStdString(), "Our DDNS service\n\rhas been closed.");
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"[Sunday 00:00] Our DDNS service has been closed."}));
}

TEST_F(ServiceFixture, StartupWithoutSettingsAccess) {
  hw::SetSettingsFile(folder.File("no-such-folder/settings.db"));
  fake.Enqueue(Reply::Ok(kClockOpen));
  hw::RunHandler([&] { main->FormCreate(); });
  EXPECT_TRUE(boxes.shown.empty());
  EXPECT_FALSE(main->Timer1->isActive());
  EXPECT_EQ(main->Button2->text().toStdString(), "Register a Domain Name");
  EXPECT_TRUE(main->Button3->isEnabled());
  EXPECT_EQ(main->Label1->text().toStdString(), main->MachineId);
}

// A damaged value stops the start-up with its error: no account is used, no query is sent.
TEST_F(ServiceFixture, WrongTypeInTheSettingsStopsTheStartupWithItsError) {
  struct Case {
    const char* what;
    std::string reg;  // "REG" as a blob, unless `storage` says otherwise
    hwtest::Storage storage;
    std::string password;
    const char* error;
    const char* userName;  // as the failing step leaves it
  };
  const Case cases[] = {
      {"REG as an SQL integer", "0", hwtest::Storage::Integer, "c2VjcmV0", "Invalid data type for 'REG'", ""},
      {"REG of 2 bytes", std::string("\x01\0", 2), hwtest::Storage::Blob, "c2VjcmV0", "Invalid data type for 'REG'",
       ""},
      {"password of 9 characters", std::string("\x01\0\0\0", 4), hwtest::Storage::Blob, "c2VjcmV0X",
       "Uneven size in DecodeToStream.", "alice"},
  };
  for (const Case& c : cases) {
    boxes.shown.clear();
    SeedRegistered("alice", c.password);
    ASSERT_TRUE(hwtest::SeedRawValue(folder.File("settings.db"), hw::kSettingsKey, "REG", 4, c.reg, c.storage));
    hw::TForm1 form;
    fake.Enqueue(Reply::Ok(kClockOpen));
    const std::size_t requestsBefore = fake.Requests().size();
    hw::RunHandler([&] { form.FormCreate(); });
    ASSERT_EQ(boxes.shown.size(), 1u) << c.what;
    EXPECT_EQ(boxes.shown[0].text, c.error) << c.what;
    EXPECT_EQ(form.UserName, c.userName) << c.what;
    EXPECT_FALSE(form.Timer1->isActive()) << c.what;
    EXPECT_EQ(fake.Requests().size() - requestsBefore, 1u) << c.what << ": the clock reading only";
    EXPECT_EQ(form.Label1->text().toStdString(), "Lable1") << c.what;
  }
}

TEST_F(ServiceFixture, ServiceUnreachableAtStartThenRetried) {
  SeedRegistered("alice", hw::EncodeBase64("secret"));
  fake.Enqueue(Reply::Raw(""));  // closes at once, before a status line
  hw::RunHandler([&] { main->FormCreate(); });
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"[Saturday 00:00] ERROR: Connection Closed Gracefully."}));
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, "List index out of bounds (3)");
  EXPECT_TRUE(main->CoolTrayIcon1->IsVisible()) << "the user can still reach and end the program";
  EXPECT_TRUE(main->StartupRetry->isActive());
  EXPECT_FALSE(main->Timer1->isActive());

  fake.Enqueue(Reply::Raw("HTTP/1.1 503 Busy\r\nContent-Length: 0\r\n\r\n"));
  hwtest::FireTimer(*main->StartupRetry);
  EXPECT_EQ(boxes.shown.size(), 1u) << "retries are silent apart from their log line";
  EXPECT_TRUE(main->StartupRetry->isActive());

  fake.Enqueue(Reply::Ok(kClockOpen));
  fake.Enqueue(Reply::Ok(kClockOpen));
  fake.Enqueue(Reply::Ok("!!"));
  hwtest::FireTimer(*main->StartupRetry);
  EXPECT_FALSE(main->StartupRetry->isActive());
  EXPECT_TRUE(main->Timer1->isActive());
  EXPECT_EQ(LogLines().back(), "[Notification] Our DDNS service will be 15 days close");
}

// The retry runs from its timer's signal; an error of the start-up it resumes reaches the error box
// like any handler's, and the program runs on.
TEST_F(ServiceFixture, RetriedStartupThatFailsLaterShowsItsError) {
  SeedRegistered("alice", hw::EncodeBase64("secret"));
  fake.Enqueue(Reply::Raw(""));
  hw::RunHandler([&] { main->FormCreate(); });
  ASSERT_TRUE(main->StartupRetry->isActive());

  fake.Enqueue(Reply::Ok(kClockOpen));
  fake.Enqueue(Reply::Ok("2013\n6\n15\nx\n0\n0\n"));  // the second reading is malformed
  hwtest::FireTimer(*main->StartupRetry);
  ASSERT_EQ(boxes.shown.size(), 2u);
  EXPECT_EQ(boxes.shown[1].text, "'x' is not a valid integer value.");
  EXPECT_FALSE(main->StartupRetry->isActive());
  EXPECT_TRUE(main->Timer1->isActive()) << "the account was loaded before the failing reading";
}

// The banner shows the reply's payload, and no label of the windows renders text as markup.
TEST_F(ServiceFixture, ServiceTextIsShownAsPlainText) {
  main->UserName = "alice";
  fake.Enqueue(Reply::Ok("##<font color=red>x</font><img src=/x.png>1234567"));
  main->SendQuery("001122334455", "check");
  EXPECT_EQ(main->Label6->text().toStdString(), "<font color=red>x</font><img src=/x.png>");
  for (QWidget* window : {static_cast<QWidget*>(main.get()), static_cast<QWidget*>(notice.get())}) {
    for (const QLabel* label : window->findChildren<QLabel*>()) {
      if (label->pixmap().isNull()) {
        EXPECT_EQ(label->textFormat(), Qt::PlainText)
            << window->metaObject()->className() << " label at " << label->x() << "," << label->y();
      }
    }
  }
}

// A start-up that met an unreachable service makes the registration offer once its retry got
// past the clock, as it would have at start.
TEST_F(ServiceFixture, RetriedStartupMakesTheRegistrationOffer) {
  fake.Enqueue(Reply::Raw(""));
  hw::RunHandler([&] { main->FormCreate(); });
  ASSERT_TRUE(main->StartupRetry->isActive());
  EXPECT_FALSE(registration->isVisible());

  fake.Enqueue(Reply::Ok(kClockOpen));
  hwtest::FireTimer(*main->StartupRetry);
  EXPECT_TRUE(registration->isVisible());
  EXPECT_EQ(main->Button2->text().toStdString(), Text("1"));
  EXPECT_FALSE(main->Button3->isEnabled());
  hw::SettingsAccess settings;
  ASSERT_TRUE(settings.OpenSettings(false));
  EXPECT_FALSE(settings.ReadFlag("REG"));
}

// The first error box of an unreachable start-up stays open for a minute: the retry fires inside it,
// before the registration dialog exists. The retry gets past the clock and leaves the offer to the
// start-up, which makes it once its windows are made.
TEST_F(ServiceFixture, RetryWhileTheFirstBoxIsOpenLeavesTheOfferToTheStartup) {
  hw::TForm2* const dialog = hw::Form2;
  hw::Form2 = nullptr;  // as while the start-up's windows are still being made
  fake.Enqueue(Reply::Raw(""));
  hw::RunHandler([&] { main->FormCreate(); });
  ASSERT_TRUE(main->StartupRetry->isActive());
  fake.Enqueue(Reply::Ok(kClockOpen));
  hwtest::FireTimer(*main->StartupRetry);
  EXPECT_FALSE(main->StartupRetry->isActive()) << "past the clock";
  EXPECT_FALSE(registration->isVisible());

  hw::Form2 = dialog;  // the windows are made; the start-up goes on
  if (!main->StartupRetry->isActive()) hw::OfferRegistration();
  EXPECT_TRUE(registration->isVisible());
}

}  // namespace
