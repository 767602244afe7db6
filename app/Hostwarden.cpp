// Entry of the client: one copy per logon, run from its own folder, four windows, then the event loop.
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <malloc.h>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "account/RegistrationOffer.h"
#include "account/Unit2.h"
#include "account/Unit4.h"
#include "app/Unit1.h"
#include "i18n/LangTable.h"
#include "lifetime/Unit3.h"
#include "platform/ProgramFolder.h"
#include "platform/ShowRequests.h"
#include "platform/SingleInstance.h"
#include "settings/SettingsLock.h"
#include "shell/ErrorDisplay.h"
#include "shell/MessageBoxes.h"
#include "shell/ProgramExit.h"
#include "shell/TestBuild.h"
#include "shell/WindowSystem.h"

namespace {

// An error outside the event loop ends the program after the unhandled-error report.
int EndWithReport(int& argc, char** argv, const std::exception& error) {
  std::fprintf(stderr, "%s\n", error.what());
  std::unique_ptr<hw::HostwardenApplication> reportApp;
  if (!qApp) reportApp = std::make_unique<hw::HostwardenApplication>(argc, argv);
  hw::ShowUnhandledErrorReport(error);
  return 1;
}

void TriggerByName(const QString& name) {
  for (QWidget* window : QApplication::topLevelWidgets()) {
    QObject* found = window->objectName() == name ? window : window->findChild<QObject*>(name);
    if (auto* action = qobject_cast<QAction*>(found)) return action->trigger();
    if (auto* button = qobject_cast<QAbstractButton*>(found)) return button->click();
    if (auto* timer = qobject_cast<QTimer*>(found)) {  // as if its period had passed
      QMetaObject::invokeMethod(timer, "timeout");
      return;
    }
  }
  hw::TraceLine("no control named " + name.toStdString());
}

struct Windows {
  std::unique_ptr<hw::TForm3> notice;
  std::unique_ptr<hw::TForm1> main;
  std::unique_ptr<hw::TForm2> registration;
  std::unique_ptr<hw::TForm4> success;

  ~Windows() {
    // The other windows use the main window freely, so it goes last.
    success.reset();
    registration.reset();
    notice.reset();
    main.reset();
  }
};

// Creates the windows in their fixed order; an error in a window's creation handler is shown and
// the start-up goes on with the next window.
void CreateWindows(Windows& windows) {
  windows.notice = std::make_unique<hw::TForm3>();
  hw::Form3 = windows.notice.get();
  hw::RunHandler([] { hw::Form3->FormCreate(); });
  windows.main = std::make_unique<hw::TForm1>();
  hw::Form1 = windows.main.get();
  hw::RunHandler([] { hw::Form1->FormCreate(); });
  windows.registration = std::make_unique<hw::TForm2>();
  hw::Form2 = windows.registration.get();
  hw::RunHandler([] { hw::Form2->FormCreate(); });
  windows.success = std::make_unique<hw::TForm4>();
  hw::Form4 = windows.success.get();
}

// A test build chooses the menu items and buttons that its test names, once the loop runs.
void ScheduleTestActions() {
  const std::vector<std::string> names = hw::TestActions();
  if (names.empty()) return;
  QTimer::singleShot(0, [names] {
    hw::RunHandler([&] {
      for (const std::string& name : names) TriggerByName(QString::fromStdString(name));
    });
  });
}

// A second start asks this copy to show its main window: the way back to it on a desktop without a
// tray, and what a launcher's user expects anywhere.
class ShowRequests {
 public:
  explicit ShowRequests(const std::string& path) {
    if (!listener_.Listen(path)) return;
    notifier_ = std::make_unique<QSocketNotifier>(listener_.Descriptor(), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
      if (listener_.TakeRequests() && hw::Form1) hw::RunHandler([] { hw::Form1->Show1Click(); });
    });
  }

 private:
  hw::ShowRequestListener listener_;
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace

int main(int argc, char** argv) {
  try {
    hw::EnterProgramFolder();
  } catch (const std::exception& error) {
    return EndWithReport(argc, argv, error);
  }

  hw::ApplyTestBuildSwitches();
  hw::SingleInstanceLock lock;
  const std::string lockPath = hw::DefaultLockPath("Hostwarden");
  if (!lock.Acquire(lockPath, hw::DefaultGuardSocketName("Hostwarden"))) {
    hw::SendShowRequest(hw::ShowRequestPath(lockPath));  // the running copy shows its window
    return 0;
  }
  // The daemon, or this client of another user, may keep the account of the same settings file.
  hw::SettingsLock settingsLock;
  const bool settingsTaken = settingsLock.Acquire() == hw::SettingsLock::State::Taken;

  hw::PreferXWayland();
  hw::HostwardenApplication app(argc, argv);
  Q_INIT_RESOURCE(assets);  // the artwork lives in a static library
  app.setQuitOnLastWindowClosed(false);
  try {
    if (settingsTaken) {
      hw::ShowInformation(hw::GetLangStr("32"));
      return 0;
    }
    ShowRequests showRequests(hw::ShowRequestPath(lockPath));  // answered once the main window exists
    Windows windows;
    CreateWindows(windows);
    if (hw::ProgramExitRequested()) return 0;  // no machine identity, or Exit during the start-up
    if (!hw::LangFileExists()) {
      hw::ShowInformation("File missing.");
      return 0;
    }
    // An error here ends the program with the unhandled-error report. A start-up that could not read
    // the service's clock makes the offer once its retry has.
    if (!hw::Form1->StartupRetry->isActive()) hw::OfferRegistration();
    hw::TraceLine("event loop");
    ScheduleTestActions();
    ::malloc_trim(0);  // what the start-up freed goes back before the program waits in the tray
    return app.exec();
  } catch (const std::exception& error) {
    return EndWithReport(argc, argv, error);
  }
}
