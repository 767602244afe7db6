#include "app/Unit1.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QScreen>

#include "account/Unit2.h"
#include "shell/Artwork.h"
#include "shell/HandlerWiring.h"
#include "shell/MessageBoxes.h"
#include "shell/PaletteColor.h"
#include "shell/ProgramExit.h"
#include "shell/WindowFont.h"
#include "shell/WindowPlacement.h"
#include "shell/WindowSystem.h"

namespace hw {

TForm1* Form1 = nullptr;

namespace {

// Behind a tray icon: a tool window with a close button only.
constexpr Qt::WindowFlags kTrayWindowFlags =
    Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;
// Without a tray: a normal window, in the taskbar or dock, that can be minimised.
constexpr Qt::WindowFlags kStandAloneWindowFlags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                                   Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint;

QFont BannerFont(bool bold) {
  QFont font("Verdana");
  font.setPointSize(8);
  font.setBold(bold);
  return font;
}

ClickableLabel* MakeBannerLabel(QWidget* parent, int top, bool bold) {
  auto* label = new ClickableLabel(parent);
  label->setGeometry(216, top, 177, 13);
  label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  label->setFont(BannerFont(bold));
  // A label draws no background of its own: the banner shows through.
  SetPaletteColor(*label, QPalette::WindowText, Qt::white);
  return label;
}

}  // namespace

TForm1::TForm1(QWidget* parent)
    // Service requests keep the windows responsive while they wait.
    : QWidget(parent), AccountKeeper([] { QCoreApplication::processEvents(QEventLoop::AllEvents); }) {
  setWindowTitle("Orvane DDNS Client");
  setWindowFlags(kTrayWindowFlags);
  setFixedSize(402, 314);
  setFont(WindowFont());
  BuildBanner();
  BuildControls();
  BuildTray();
}

void TForm1::BuildBanner() {
  Image1 = new PlainLabel(this);  // a picture, but never a label that renders markup
  Image1->setGeometry(1, 1, 400, 80);
  Image1->setCursor(Qt::PointingHandCursor);
  Label5 = MakeBannerLabel(this, 8, true);
  Label6 = MakeBannerLabel(this, 20, false);
  WireHandler(Label5, &ClickableLabel::clicked, this, &TForm1::Label5Click);
  WireHandler(Label6, &ClickableLabel::clicked, this, &TForm1::Label6Click);
}

void TForm1::BuildControls() {
  Label1 = new PlainLabel("Lable1", this);  // the design caption, misspelt as users have always seen it
  // Room to the window's edge, text at the top left, where a label sized to its text would show it:
  // sizing it would measure the font, and a client that only waits in the tray never loads the font
  // engine (some megabytes).
  Label1->setGeometry(272, 104, 129, 17);
  Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Button2 = new QPushButton("Register a Domain Name", this);
  Button2->setObjectName("Button2");
  Button2->setGeometry(8, 96, 129, 25);
  Button3 = new QPushButton("Release this Domain", this);
  Button3->setObjectName("Button3");
  Button3->setGeometry(144, 96, 113, 25);
  ListBox1 = std::make_unique<ActivityLog>(*this, QRect(0, 128, 401, 185));
  WireHandler(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
  WireHandler(Button3, &QPushButton::clicked, this, &TForm1::Button3Click);
  Timer1 = new PeriodTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(kUpdatePeriodMs);
  Timer1->setTimerType(Qt::PreciseTimer);  // ten minutes, not up to half a minute more or less
  WireHandler(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
  StartupRetry = new QTimer(this);
  StartupRetry->setInterval(kStartupRetryMs);
  WireHandler(StartupRetry, &QTimer::timeout, this, &TForm1::RetryStartup);
  WatchTimer = new QTimer(this);
  WatchTimer->setObjectName("WatchTimer");
  WatchTimer->setSingleShot(true);
  WatchTimer->setTimerType(Qt::PreciseTimer);
  WireHandler(WatchTimer, &QTimer::timeout, this, [this] { AttendWatch(false); });
}

void TForm1::BuildTray() {
  // The menu has no parent window: a child of the main window would be disabled with it while the
  // registration dialog runs, and "Exit" could not be reached.
  PopupMenu1 = new QMenu;
  Show1 = PopupMenu1->addAction("Show");
  Show1->setObjectName("Show1");
  QFont bold = Show1->font();
  bold.setBold(true);
  Show1->setFont(bold);  // the default item
  PopupMenu1->setDefaultAction(Show1);
  Exit1 = PopupMenu1->addAction("Exit");
  Exit1->setObjectName("Exit1");
  WireHandler(Show1, &QAction::triggered, this, &TForm1::Show1Click);
  WireHandler(Exit1, &QAction::triggered, this, &TForm1::Exit1Click);
  CoolTrayIcon1 = new TrayIcon(PopupMenu1, windowTitle(), this);
  WireHandler(CoolTrayIcon1, &TrayIcon::doubleClicked, this, &TForm1::Show1Click);
  WireHandler(CoolTrayIcon1, &TrayIcon::activated, this, &TForm1::Show1Click);
  WireHandler(CoolTrayIcon1, &TrayIcon::hostChanged, this, &TForm1::TrayHostChanged);
}

TForm1::~TForm1() {
  delete CoolTrayIcon1;  // before the menu it shows
  delete PopupMenu1;
  qDeleteAll(watchNotifiers_);  // before the watch closes the descriptors they wait on
}

void TForm1::AddLogLine(const std::string& line) {
  ListBox1->Add(QString::fromStdString(line));
  WriteJournalLine(line);
}

void TForm1::Show1Click() {
  ShowWindow();
  CoolTrayIcon1->StopBlinking();
}

void TForm1::ShowWindow() {
  const bool firstShow = !placed_;
  placed_ = true;
  if (firstShow) CenterOnPrimaryScreen(*this);
  if (isMinimized()) {
    showNormal();
  } else {
    show();
  }
  if (firstShow) CenterOnPrimaryScreen(*this);  // now by its frame
  raise();
  // The window the user was working in comes to the front: the registration dialog while it is open
  // (it is not modal; the main window waits disabled behind it), else a modal box, else this one.
  QWidget* front = Form2 && Form2->isVisible() ? Form2 : QApplication::activeModalWidget();
  if (!front) front = this;
  front->raise();
  front->activateWindow();
}

void TForm1::TrayHostChanged() {
  const bool standAlone = CoolTrayIcon1->Unreachable();
  if (standAlone != standAlone_) {
    standAlone_ = standAlone;
    const bool keepShown = isVisible() && !isMinimized();
    setWindowFlags(standAlone ? kStandAloneWindowFlags : kTrayWindowFlags);  // this hides the window
    if (keepShown) ShowWindow();
  }
  if (standAlone_ && !isVisible()) ShowWindow();
}

void TForm1::Exit1Click() {
  QCoreApplication::processEvents();
  RequestProgramExit();
}

void TForm1::Label5Click() { CopyToClipboard(Label5->text()); }
void TForm1::Label6Click() { CopyToClipboard(Label6->text()); }

void TForm1::Button2Click() {
  Timer1->Disable();
  setEnabled(false);
  if (Form2) Form2->show();  // closing it enables window and timer again
}

void TForm1::closeEvent(QCloseEvent* event) {
  // Closing only hides the window; the program lives on behind the tray icon.
  event->ignore();
  if (!standAlone_) {
    hide();
    return;
  }
  // Without a tray, closing would leave nothing of the program on screen: the user chooses between
  // ending it (and the name's updates with it) and keeping it running, minimised to the taskbar.
  const BoxRequest question{windowTitle().toStdString(), GetLangStr("33"), BoxIcon::Information, BoxButtons::OkCancel};
  if (Boxes().Show(question) == BoxAnswer::Ok) {
    RequestProgramExit();
  } else {
    showMinimized();
  }
}

void TForm1::showEvent(QShowEvent* event) {
  // The banner is decoded when the window is first shown: a client that only waits in the tray never
  // loads the JPEG decoder.
  if (Image1->pixmap().isNull()) Image1->setPixmap(LoadArtwork(":/banner.jpg"));
  if (!standAlone_) KeepOffTaskbar(*this);  // the tray icon is the program's presence
  ListBox1->WindowShown();
  // The log is first in the tab order: it has the focus when the window first comes. Made after the
  // buttons, its list follows them in the (circular) focus chain, so Tab goes log, register, release.
  if (!focusWidget()) ListBox1->View()->setFocus();
  QWidget::showEvent(event);
}

void CopyToClipboard(const QString& text) { QGuiApplication::clipboard()->setText(text); }

}  // namespace hw
