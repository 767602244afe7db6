// The main window's start-up and its notices: server clock, identity, stored account, first query.
#include <QCoreApplication>

#include "account/RegistrationOffer.h"
#include "app/Unit1.h"
#include "common/AppError.h"
#include "ddns/Base64.h"
#include "ddns/MachineIdentity.h"
#include "ddns/ServiceEndpoints.h"
#include "lifetime/ClosingSchedule.h"
#include "lifetime/ServerClock.h"
#include "lifetime/Unit3.h"
#include "platform/UserLanguage.h"
#include "settings/Reminders.h"
#include "settings/SettingsStore.h"
#include "shell/MessageBoxes.h"
#include "shell/ProgramExit.h"

namespace hw {

DateTime TForm1::CheckDate() {
  std::string reply;
  try {
    reply = HttpGet(*http, ServiceUrl(Endpoint::Clock));
  } catch (const TransportError& error) {
    LogError(error);  // the empty reply then fails the decoding
  }
  return DecodeClockReply(reply);
}

void TForm1::FormCreate() {
  try {
    ServerNow = CheckDate();
  } catch (const AppError&) {
    // Unreachable at login is common (network not up yet): keep a way to reach and end the
    // program, and try the start-up again until the clock answers.
    CoolTrayIcon1->SetVisible(true);
    StartupRetry->start();
    throw;
  }
  FinishStartup();
}

void TForm1::RetryStartup() {
  if (!StartupRetry->isActive()) return;  // a nested tick while the previous attempt still waits
  StartupRetry->stop();
  try {
    ServerNow = CheckDate();
  } catch (const AppError&) {
    StartupRetry->start();  // silent apart from the log line of a transport failure
    return;
  }
  FinishStartup();
  // The offer that the start-up left for this moment, since it runs only past the clock.
  if (!ProgramExitRequested()) OfferRegistration();
}

void TForm1::FinishStartup() {
  MachineId = GetMachineId();
  Button3->setText(QString::fromStdString(GetLangStr("3")));
  if (MachineId.empty()) {
    ShowInformation(GetLangStr("28"));
    RequestProgramExit();
    return;
  }
  CoolTrayIcon1->SetVisible(true);
  LoadAccountAndStart();
  Label1->setText(QString::fromStdString(MachineId));
  Label1->adjustSize();
}

void TForm1::LoadAccountAndStart() {
  SettingsAccess settings;  // stays open until the first query has finished
  settings.OpenSettings(true);
  if (!settings.SettingExists("REG")) return;  // the registration offer handles a first start
  if (!settings.ReadFlag("REG")) {
    Button2->setText(QString::fromStdString(GetLangStr("1")));
    return;
  }
  UserName = settings.ReadText("username");
  Password = DecodeBase64(settings.ReadText("password"));
  Timer1->Enable();
  Button2->setText(QString::fromStdString(GetLangStr("2")));
  if (IsServiceClosed(CheckDate())) {
    ShowServiceClosed();
    return;
  }
  NoticeTicks = 0;
  showclose();
  SendQuery(MachineId, "check");
}

void TForm1::showclose() {
  if (!RemindWanted()) return;
  Form3->Label1->setText(QString::fromStdString(CountdownNoticeText(UserDefaultLangId(), DaysToClosing(ServerNow))));
  if (!Form3->isVisible()) Form3->SlideInNotice();
}

void TForm1::ShowServiceClosed() {
  const unsigned language = UserDefaultLangId();
  Form3->Label1->setText(QString::fromStdString(ClosedNoticeText(language)));
  AddLogLine(LogStamp() + ClosedLogLine(language));
  Form3->SlideInNotice();
}

}  // namespace hw
