#pragma once
#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/ActivityLog.h"
#include "app/TrayIcon.h"
#include "core/AccountKeeper.h"
#include "shell/ClickableLabel.h"
#include "shell/PeriodTimer.h"
#include "update/VersionsPassedOver.h"

namespace hw {

// The main window: banner with the account's host name and the last reply, the machine identity,
// the register and release buttons and the activity log; it lives behind the tray icon. It is the
// account keeper's front end on the desktop.
class TForm1 : public QWidget, public AccountKeeper {
  Q_OBJECT

 public:
  static constexpr int kUpdatePeriodMs = 600000;
  static constexpr int kLinesInView = 12;
  static constexpr int kLogLimit = 1000;
  static constexpr int kStartupRetryMs = 60000;

  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  // Activity log: the caller builds the whole line; it is also written to standard error.
  void AddLogLine(const std::string& line) override;

  // Start-up: server clock, machine identity, tray icon, stored account, first query.
  void FormCreate();
  // The start-up again, after the clock could not be read at start (every 60 s until it can).
  void RetryStartup();

  // One tick of the update cycle (Timer1). An error ends the tick in an error box; while a box of
  // the cycle is open, a further failing tick opens none.
  void Timer1Timer();
  // The watch on the network woke the program: its reports (`reported`) or its due moment; the
  // extra check runs when due. An error ends it in an error box, as for a tick.
  void AttendWatch(bool reported);
  // Takes up the build that `offered` (CheckVersion's text) names: downloads it beside the program
  // (or takes a valid one fetched before), checks it as the updater will, starts the updater and
  // ends the program. True when the program now ends. Nothing happens, and the tick goes on, when
  // this copy cannot update itself (not its own folder to write, no trusted key: said once a run)
  // or that version was passed over in this run; a refused build is removed and logged, a download
  // that did not complete removed and tried again at the next tick. A build that cannot be saved
  // throws its FileError (the partial file removed).
  bool HandOffUpdate(const std::string& offered) override;

  // Handlers.
  // Shows the main window (un-minimised, raised, in front) and ends the tray icon's attention.
  void Show1Click();
  void Exit1Click();
  void Label5Click();
  void Label6Click();
  void Button2Click();
  // Release: after confirmation, the stored account is deleted and the service told.
  void Button3Click();

  // Components, named as the other windows and the tests reach them.
  QLabel* Image1;
  ClickableLabel* Label5;
  ClickableLabel* Label6;
  PlainLabel* Label1;
  QPushButton* Button2;
  QPushButton* Button3;
  std::unique_ptr<ActivityLog> ListBox1;
  PeriodTimer* Timer1;
  QMenu* PopupMenu1;
  QAction* Show1;
  QAction* Exit1;
  TrayIcon* CoolTrayIcon1;
  // Runs the start-up again while the service's clock could not be read at start.
  QTimer* StartupRetry;
  // Fires when the watch on the network has something due (settling, the extra check).
  QTimer* WatchTimer;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void BuildBanner();
  void BuildControls();
  void BuildTray();
  void FinishStartup();
  // Brings the window to the screen: shown, un-minimised, raised, in front.
  void ShowWindow();
  // Without a tray the window stands on its own: a normal window with a taskbar entry, on screen,
  // minimised when closed; a tray that comes takes it back to a tool window behind the icon.
  void TrayHostChanged();

  // What the window shows of the account keeper's outcomes.
  void AccountLoaded(bool registered) override;
  void ShowCountdownNotice(const std::string& text) override;
  void ShowClosedNotice(const std::string& text) override;
  void ShowUpdatedAddress(const std::string& hostName, const std::string& address) override;
  void EnterUnregisteredState() override;
  void TidyAfterTick() override;
  void AddressWatchChanged() override;
  // Runs a step of the update cycle; its error shows in a box, one box at a time.
  template <typename Step>
  void RunCycleStep(Step step);
  void ArmWatchTimer();

  bool MayUpdateHere(const std::string& version);
  bool StartUpdater();
  static bool UpdateFileWaits();
  void TrimLog();

  bool placed_ = false;
  bool standAlone_ = false;  // no tray: the window is the program's only presence
  bool cycleBoxOpen_ = false;  // an error box of the update cycle is showing
  bool handingOff_ = false;    // a download and its check are under way
  VersionsPassedOver passedOver_;
  std::vector<QSocketNotifier*> watchNotifiers_;
};

extern TForm1* Form1;

// Puts the text on the clipboard as plain text, replacing what was there.
void CopyToClipboard(const QString& text);

}  // namespace hw
