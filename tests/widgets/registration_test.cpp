// The registration dialog, the success window and the registration offer, driven through their
// controls against the scripted fake service.
#include <sqlite3.h>

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QTest>
#include <map>

#include "account/RegistrationOffer.h"
#include "ddns/Base64.h"
#include "ddns/Envelope.h"
#include "fixtures/FileSizeLimit.h"
#include "fixtures/SettingsSeed.h"
#include "shell/Beep.h"
#include "widgets/support/ServiceFixture.h"

namespace {

using hwtest::Reply;

constexpr const char* kMachineId = "001122334455";

// Types the text key by key into the field, as a keyboard would, also characters outside ASCII (an
// input method or another keyboard layout delivers those as key presses that carry the text).
void Type(QWidget* field, const QString& text) {
  for (const QChar c : text) {
    if (c.unicode() < 0x80) {
      QTest::keyClick(field, static_cast<char>(c.unicode()));
      continue;
    }
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
    QApplication::sendEvent(field, &press);
    QApplication::sendEvent(field, &release);
  }
}

struct Stored {
  int type;
  std::string data;
  bool operator==(const Stored&) const = default;
};

class Registration : public ServiceFixture {
 protected:
  void SetUp() override {
    ServiceFixture::SetUp();
    main->MachineId = kMachineId;
  }

  void OpenFromTheMainWindow() {
    main->Show1->trigger();
    QTest::mouseClick(main->Button2, Qt::LeftButton);
    ASSERT_TRUE(registration->isVisible());
  }
  void Fill(const QString& name, const QString& password, const QString& confirmation) {
    Type(registration->Edit1, name);
    Type(registration->Edit2, password);
    Type(registration->Edit3, confirmation);
  }
  void Send() { QTest::mouseClick(registration->Button1, Qt::LeftButton); }
  std::string Status() const { return registration->Label5->text().toStdString(); }
  std::vector<std::string> SuccessLines() const {
    std::vector<std::string> lines;
    if (!success->Memo1) return lines;  // made at the first result: none was shown
    for (const QString& line : success->Memo1->toPlainText().split('\n', Qt::SkipEmptyParts))
      lines.push_back(line.toStdString());
    return lines;
  }

  // The values of the program's key in the settings file, by name: type and bytes.
  std::map<std::string, Stored> StoredValues() const {
    std::map<std::string, Stored> values;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(folder.File("settings.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
      sqlite3_stmt* statement = nullptr;
      sqlite3_prepare_v2(db, "SELECT name, type, data FROM \"values\"", -1, &statement, nullptr);
      while (statement && sqlite3_step(statement) == SQLITE_ROW) {
        const auto* data = static_cast<const char*>(sqlite3_column_blob(statement, 2));
        values[reinterpret_cast<const char*>(sqlite3_column_text(statement, 0))] = {
            sqlite3_column_int(statement, 1),
            std::string(data ? data : "", static_cast<std::size_t>(sqlite3_column_bytes(statement, 2)))};
      }
      sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return values;
  }
};

TEST_F(Registration, ChecksRunInTheirOrderAndSendNothing) {
  struct Case {
    const char* name;
    const char* password;
    const char* confirmation;
    const char* text;
  };
  const Case cases[] = {
      {"a", "secret1", "secret2", "20"},  // the passwords are compared before the name is looked at
      {"abc", "Secret", "secret", "20"},  // capitals count
      {"-abc", "secret", "secret", "12"}, {"abc-", "secret", "secret", "12"},
      {"ab", "secret", "secret", "13"},   {"", "", "", "13"},
      {"abc", "12345", "12345", "14"},
  };
  OpenFromTheMainWindow();
  for (const Case& c : cases) {
    registration->FormShow();
    Fill(c.name, c.password, c.confirmation);
    Send();
    EXPECT_EQ(Status(), Text(c.text)) << c.name << " / " << c.password;
    EXPECT_TRUE(registration->Button1->isEnabled());
  }
  EXPECT_TRUE(fake.Requests().empty());
}

TEST_F(Registration, NameFieldTakesLowerCaseLettersDigitsAndMinusOnly) {
  struct Case {
    const char* what;
    QString typed;
    QString entered;
    int beeps;
  };
  const Case cases[] = {
      {"capitals enter in lower case", "AbC", "abc", 0},
      {"digits and minus", "x-1-9", "x-1-9", 0},
      {"blank and underscore beep", "a b_c", "abc", 2},
      {"other scripts beep", QString::fromUtf8("n\xC3\xA4me\xE5\x90\x8D"), "nme", 2},
      {"sixteen characters at most", "abcdefghijklmnopq", "abcdefghijklmnop", 0},
  };
  OpenFromTheMainWindow();
  for (const Case& c : cases) {
    registration->Edit1->clear();
    const int beepsBefore = hw::BeepCount();
    Type(registration->Edit1, c.typed);
    EXPECT_EQ(registration->Edit1->text(), c.entered) << c.what;
    EXPECT_EQ(hw::BeepCount() - beepsBefore, c.beeps) << c.what;
  }
}

// Nothing reaches the name but typed characters: no clipboard shortcut, no Enter, no menu, no
// drop, no paste of any kind; editing keys still work.
TEST_F(Registration, NameFieldRefusesEveryOtherRoute) {
  OpenFromTheMainWindow();
  QLineEdit* name = registration->Edit1;
  Type(name, "abc");
  QGuiApplication::clipboard()->setText("Evil Name!");
  const int beepsBefore = hw::BeepCount();
  QTest::keyClick(name, Qt::Key_V, Qt::ControlModifier);
  QTest::keyClick(name, Qt::Key_Insert, Qt::ShiftModifier);
  QTest::keyClick(name, Qt::Key_Return);
  EXPECT_EQ(hw::BeepCount() - beepsBefore, 3);
  name->paste();  // whatever route is left, the field's rule holds
  EXPECT_EQ(name->text(), "abc");
  EXPECT_TRUE(fake.Requests().empty()) << "Enter does not send";
  EXPECT_EQ(name->contextMenuPolicy(), Qt::NoContextMenu);
  EXPECT_FALSE(name->acceptDrops());
  QTest::mouseClick(name, Qt::MiddleButton);
  EXPECT_EQ(name->text(), "abc");
  QTest::keyClick(name, Qt::Key_Backspace);
  QTest::keyClick(name, Qt::Key_Home);
  QTest::keyClick(name, Qt::Key_Delete);
  EXPECT_EQ(name->text(), "b");
}

// The envelope has room for a password of 218 bytes beside the longest name: the fields take no
// more, counted in the bytes that are sent.
TEST_F(Registration, PasswordFieldsAreMaskedAndCappedByBytes) {
  OpenFromTheMainWindow();
  for (QLineEdit* field : {registration->Edit2, registration->Edit3}) {
    EXPECT_EQ(field->echoMode(), QLineEdit::Password);
    Type(field, QString(230, 'p'));
    EXPECT_EQ(field->text().size(), 218);
    field->clear();
    Type(field, QString(120, QChar(0xE9)));  // two bytes each
    EXPECT_EQ(field->text().toUtf8().size(), 218);
  }
  Type(registration->Edit1, QString(16, 'n'));
  EXPECT_TRUE(hw::EnvelopeFits(registration->Edit1->text().toStdString(), registration->Edit2->text().toStdString(),
                               kMachineId));
}

TEST_F(Registration, FocusShowsTheFieldsHintAndClearsTheStatus) {
  OpenFromTheMainWindow();
  QApplication::setActiveWindow(registration.get());
  const std::pair<QLineEdit*, const char*> fields[] = {{registration->Edit1, "10"},
                                                       {registration->Edit2, "11"},
                                                       {registration->Edit3, "11"},
                                                       {registration->Edit1, "10"}};
  for (const auto& [field, hint] : fields) {
    Send();  // an empty name: the status line shows a complaint
    ASSERT_FALSE(Status().empty());
    field->setFocus();
    EXPECT_EQ(registration->Memo1->toPlainText().toStdString(), Text(hint));
    EXPECT_EQ(Status(), "");
  }
}

TEST_F(Registration, ReopeningEmptiesTheFieldsAndTheStatus) {
  OpenFromTheMainWindow();
  Fill("abc", "secret", "other1");
  Send();
  ASSERT_EQ(Status(), Text("20"));
  QTest::mouseClick(registration->Button2, Qt::LeftButton);
  EXPECT_FALSE(registration->isVisible());
  EXPECT_TRUE(main->isEnabled()) << "closing gives the main window back";
  EXPECT_TRUE(main->Timer1->isActive());
  QTest::mouseClick(main->Button2, Qt::LeftButton);
  for (QLineEdit* field : {registration->Edit1, registration->Edit2, registration->Edit3})
    EXPECT_TRUE(field->text().isEmpty());
  EXPECT_EQ(Status(), "");
}

TEST_F(Registration, SuccessStoresTheAccountAndCloseSendsTheFirstCheck) {
  OpenFromTheMainWindow();
  Fill("alice-1", "s3cret!", "s3cret!");
  fake.Enqueue(Reply::Ok("##Welcome aboard"));
  Send();

  const std::string envelope = hw::BuildEnvelope("alice-1", "s3cret!", kMachineId);
  ASSERT_EQ(fake.Requests().size(), 1u);
  EXPECT_EQ(fake.Requests()[0],
            "POST /sj.php HTTP/1.0\r\nConnection: keep-alive\r\n"
            "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                std::to_string(envelope.size()) + "\r\nHost: 127.0.0.1:" + std::to_string(fake.port()) +
                "\r\nAccept: text/html, */*\r\n"
                "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n\r\n" +
                envelope);
  EXPECT_EQ(StoredValues(), (std::map<std::string, Stored>{{"username", {1, std::string("alice-1\0", 8)}},
                                                           {"password", {1, std::string("czNjcmV0IQ==\0", 13)}},
                                                           {"REG", {4, std::string("\x01\0\0\0", 4)}}}));
  EXPECT_EQ(SuccessLines(),
            (std::vector<std::string>{Text("21", "alice-1"), Text("22", "Welcome aboard"), Text("23"), Text("24")}));
  EXPECT_TRUE(success->isVisible());
  EXPECT_TRUE(registration->isVisible()) << "the dialog stays behind the success window";
  EXPECT_TRUE(registration->Button1->isEnabled());
  EXPECT_EQ(main->UserName, "alice-1");
  EXPECT_EQ(main->Password, "s3cret!");
  EXPECT_TRUE(main->Timer1->isActive());
  EXPECT_EQ(main->Button2->text().toStdString(), Text("2"));
  EXPECT_TRUE(main->Button3->isEnabledTo(main.get())) << "enabled again, behind the disabled main window";

  fake.Enqueue(Reply::Ok("##203.0.113.9abcdefg"));
  QTest::mouseClick(success->Button1, Qt::LeftButton);
  ASSERT_EQ(fake.Requests().size(), 2u);
  EXPECT_TRUE(fake.Requests()[1].starts_with("POST /fo.php HTTP/1.0\r\n"));
  EXPECT_EQ(BodyOf(fake.Requests()[1]), hw::BuildEnvelope("alice-1", "s3cret!", kMachineId));
  EXPECT_EQ(main->Label5->text().toStdString(), "alice-1.hostwarden.test");
  EXPECT_FALSE(success->isVisible());
  EXPECT_FALSE(registration->isVisible());
  EXPECT_TRUE(main->isEnabled());
  EXPECT_TRUE(main->Timer1->isActive());
}

TEST_F(Registration, RepliesWithoutSuccessStoreNothing) {
  struct Case {
    const char* what;
    Reply reply;
    std::string status;
  };
  Case cases[] = {
      {"name refused", Reply::Ok("%%taken1234567"), Text("27", "alice")},
      {"empty reply", Reply::Ok(""), "(untouched)"},
      {"unknown marker", Reply::Ok("@@"), "(untouched)"},
      {"service unreachable", Reply::Raw(""), "ERROR: Connection Closed Gracefully."},
      {"error status", Reply::Raw("HTTP/1.1 503 Busy\r\nContent-Length: 0\r\n\r\n"), "ERROR: HTTP/1.1 503 Busy"},
  };
  OpenFromTheMainWindow();
  for (Case& c : cases) {
    registration->FormShow();
    registration->Label5->setText("(untouched)");
    Fill("alice", "secret", "secret");
    fake.Enqueue(std::move(c.reply));
    Send();
    EXPECT_EQ(Status(), c.status) << c.what;
    EXPECT_TRUE(StoredValues().empty()) << c.what;
    EXPECT_FALSE(success->isVisible()) << c.what;
    EXPECT_TRUE(registration->Button1->isEnabled()) << c.what;
    EXPECT_FALSE(main->Timer1->isActive()) << c.what;
    EXPECT_EQ(main->UserName, "") << c.what;
  }
}

// Without access to the settings the account is not stored, but the registration did succeed at
// the service: the rest of the success path runs.
TEST_F(Registration, SuccessWithoutSettingsAccessStillShowsItsWindow) {
  hw::SetSettingsFile(folder.File("no-such-folder/settings.db"));
  OpenFromTheMainWindow();
  Fill("alice", "secret", "secret");
  fake.Enqueue(Reply::Ok("##ok"));
  Send();
  EXPECT_TRUE(success->isVisible());
  EXPECT_TRUE(main->Timer1->isActive());
  EXPECT_EQ(main->UserName, "");
  EXPECT_TRUE(boxes.shown.empty());
}

// A write the store cannot make (here: no file of this process may grow past 100 bytes, as on a full
// disk) ends the success path with its error: nothing more is shown or set, and the send button
// works again.
TEST_F(Registration, FailingSettingsWriteShowsItsErrorAndNothingHalfDone) {
  SeedFlag("Remind", true);  // the file and its tables exist
  OpenFromTheMainWindow();
  Fill("alice", "secret", "secret");
  fake.Enqueue(Reply::Ok("##ok"));
  {
    const hwtest::FileSizeLimit limit(100);
    Send();
  }
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, "Failed to set data for 'username'");
  EXPECT_TRUE(registration->Button1->isEnabled());
  EXPECT_FALSE(success->isVisible());
  EXPECT_TRUE(SuccessLines().empty());
  EXPECT_EQ(main->UserName, "");
  EXPECT_FALSE(main->Timer1->isActive());
  EXPECT_FALSE(StoredValues().contains("REG")) << "the account is not marked registered";
  EXPECT_FALSE(StoredValues().contains("username"));
}

// Closing the dialog while the registration waits does not cancel it.
TEST_F(Registration, ClosingTheDialogDuringTheExchangeDoesNotCancelIt) {
  OpenFromTheMainWindow();
  Fill("alice", "secret", "secret");
  auto gate = std::make_shared<hwtest::Gate>();
  fake.Enqueue(Reply::Ok("##ok").After(gate));
  QTimer::singleShot(0, [&] {
    EXPECT_FALSE(registration->Button1->isEnabled()) << "no second registration meanwhile";
    QTest::mouseClick(registration->Button2, Qt::LeftButton);
    fake.Open(*gate);
  });
  Send();
  EXPECT_FALSE(registration->isVisible());
  EXPECT_TRUE(success->isVisible());
  EXPECT_EQ(main->UserName, "alice");
}

TEST_F(Registration, SuccessWindowCloseBoxOnlyHidesIt) {
  OpenFromTheMainWindow();
  Fill("alice", "secret", "secret");
  fake.Enqueue(Reply::Ok("##ok"));
  Send();
  ASSERT_TRUE(success->isVisible());
  success->close();
  EXPECT_FALSE(success->isVisible());
  EXPECT_TRUE(registration->isVisible());
  EXPECT_TRUE(main->Timer1->isActive());
  EXPECT_EQ(fake.Requests().size(), 1u) << "no query";
}

TEST_F(Registration, OfferAtStartFollowsTheStoredFlag) {
  struct Case {
    const char* what;
    int reg;  // -1: absent; -2: no settings key at all
    bool offered;
  };
  for (const Case c :
       {Case{"no REG", -1, true}, Case{"REG false", 0, true}, Case{"REG true", 1, false}, Case{"no key", -2, false}}) {
    hwtest::TempDir settingsFolder;
    hw::SetSettingsFile(settingsFolder.File("settings.db"));
    if (c.reg >= 0) SeedFlag("REG", c.reg == 1);
    if (c.reg == -1) SeedFlag("Remind", true);
    registration->hide();
    main->Timer1->start();
    main->Button2->setText("before");
    main->Button3->setEnabled(true);

    hw::OfferRegistration();
    EXPECT_EQ(registration->isVisible(), c.offered) << c.what;
    EXPECT_EQ(main->Timer1->isActive(), !c.offered) << c.what;
    EXPECT_EQ(main->Button2->text().toStdString(), c.offered ? Text("1") : "before") << c.what;
    EXPECT_EQ(main->Button3->isEnabled(), !c.offered) << c.what;
    EXPECT_FALSE(main->isVisible()) << c.what;
    EXPECT_TRUE(main->isEnabled()) << c.what;
    hw::SettingsAccess settings;
    if (c.reg == -2) {
      EXPECT_FALSE(settings.OpenSettings(false)) << c.what << ": the offer creates no key";
    } else {
      ASSERT_TRUE(settings.OpenSettings(false)) << c.what;
      EXPECT_EQ(settings.ReadFlag("REG"), c.reg == 1) << c.what << ": a missing REG is written false";
    }
  }
}

TEST_F(Registration, ReleaseAfterConfirmationForgetsTheStoredAccount) {
  struct Case {
    const char* what;
    bool keyExists;
  };
  for (const Case c : {Case{"with the key", true}, Case{"without a key", false}}) {
    hwtest::TempDir settingsFolder;
    hw::SetSettingsFile(settingsFolder.File("settings.db"));
    if (c.keyExists) SeedRegistered("alice", hw::EncodeBase64("secret"));
    main->UserName = "alice";
    main->Password = "secret";
    main->Timer1->start();
    main->Button3->setEnabled(true);
    main->ListBox1->clear();
    boxes.shown.clear();
    const std::size_t before = fake.Requests().size();
    fake.Enqueue(Reply::Ok("##203.0.113.7abcdefg"));

    QTest::mouseClick(main->Button3, Qt::LeftButton);
    ASSERT_EQ(boxes.shown.size(), 1u) << c.what;
    EXPECT_EQ(boxes.shown[0].title, "Dialog");
    EXPECT_EQ(boxes.shown[0].text, Text("15"));
    EXPECT_EQ(boxes.shown[0].buttons, hw::BoxButtons::OkCancel);
    ASSERT_EQ(fake.Requests().size(), before + 1) << c.what;
    EXPECT_TRUE(fake.Requests().back().starts_with("POST /lk.php HTTP/1.0\r\n")) << c.what;
    EXPECT_EQ(BodyOf(fake.Requests().back()), hw::BuildEnvelope("alice", "secret", kMachineId)) << c.what;
    hw::SettingsAccess settings;
    EXPECT_FALSE(settings.OpenSettings(false)) << c.what << ": the key is gone";
    EXPECT_EQ(LogLines(), (std::vector<std::string>{"[Saturday 00:00] " + Text("25", "203.0.113.7")}))
        << c.what << ": no countdown line without the key";
    EXPECT_FALSE(main->Timer1->isActive()) << c.what;
    EXPECT_EQ(main->Label5->text().toStdString(), Text("16")) << c.what;
    EXPECT_EQ(main->Label6->text(), "") << c.what;
    EXPECT_EQ(main->Button2->text().toStdString(), Text("1")) << c.what;
    EXPECT_FALSE(main->Button3->isEnabled()) << c.what;
    EXPECT_EQ(main->UserName, "alice") << c.what << ": the account in memory stays";
  }
}

TEST_F(Registration, CancelledReleaseChangesNothing) {
  SeedRegistered("alice", hw::EncodeBase64("secret"));
  main->Timer1->start();
  main->Button2->setText("registered");
  main->Label5->setText("alice.hostwarden.test");
  boxes.answer = hw::BoxAnswer::Cancel;
  QTest::mouseClick(main->Button3, Qt::LeftButton);
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_TRUE(fake.Requests().empty());
  EXPECT_TRUE(main->Timer1->isActive());
  EXPECT_TRUE(main->Button3->isEnabled());
  EXPECT_EQ(main->Button2->text(), "registered");
  EXPECT_EQ(main->Label5->text(), "alice.hostwarden.test");
  hw::SettingsAccess settings;
  ASSERT_TRUE(settings.OpenSettings(false));
  EXPECT_TRUE(settings.ReadFlag("REG"));
}

}  // namespace
