// The main window's start-up and its notices: server clock, identity, stored account, first query.
#include <QCoreApplication>

#include "account/RegistrationOffer.h"
#include "account/Unit2.h"
#include "app/Unit1.h"
#include "common/AppError.h"
#include "lifetime/ServerClock.h"
#include "lifetime/Unit3.h"
#include "shell/MessageBoxes.h"
#include "shell/ProgramExit.h"

namespace hw {

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
  // The offer that the start-up left for this moment, since it runs only past the clock. A retry
  // that fires while the start-up's first error box is still open comes before the registration
  // dialog exists: the start-up makes the offer itself once its windows are made.
  if (!ProgramExitRequested() && Form2) OfferRegistration();
}

void TForm1::FinishStartup() {
  const bool identified = IdentifyMachine();
  Button3->setText(QString::fromStdString(GetLangStr("3")));
  if (!identified) {
    ShowInformation(GetLangStr("28"));
    RequestProgramExit();
    return;
  }
  CoolTrayIcon1->SetVisible(true);
  LoadAccountAndStart();
  Label1->setText(QString::fromStdString(MachineId));
}

void TForm1::AccountLoaded(bool registered) {
  if (registered) Timer1->Enable();
  Button2->setText(QString::fromStdString(GetLangStr(registered ? "2" : "1")));
}

void TForm1::ShowCountdownNotice(const std::string& text) {
  Form3->Label1->setText(QString::fromStdString(text));
  if (!Form3->isVisible()) Form3->SlideInNotice();
}

void TForm1::ShowClosedNotice(const std::string& text) {
  Form3->Label1->setText(QString::fromStdString(text));
  Form3->SlideInNotice();
}

}  // namespace hw
