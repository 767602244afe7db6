#include "lifetime/Unit3.h"

#include <QBitmap>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QScreen>
#include <QShowEvent>
#include <QUrl>

#include "BuildConfig.h"
#include "lifetime/ClosingSchedule.h"
#include "platform/UserLanguage.h"
#include "settings/SettingsStore.h"
#include "shell/Artwork.h"
#include "shell/HandlerWiring.h"
#include "shell/PaletteColor.h"
#include "shell/WindowFont.h"
#include "shell/WindowSystem.h"

namespace hw {

TForm3* Form3 = nullptr;

namespace {

QFont PixelFont(const char* family, int pixels, bool bold) {
  QFont font(family);
  font.setPixelSize(pixels);
  font.setBold(bold);
  return font;
}

template <typename Widget>
Widget* Place(Widget* widget, int left, int top, int width, int height) {
  widget->setGeometry(left, top, width, height);
  return widget;
}

}  // namespace

TForm3::TForm3(QWidget* parent) : QWidget(parent) {
  // Borderless, always on top, and a tool window so the program has no taskbar button. Under
  // XWayland the compositor would place a managed window where it likes (sway: the centre) and
  // give it the focus: there it goes around the window manager, placed where it asks, above the
  // others, never focused.
  Qt::WindowFlags flags = Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool;
  if (OnXWayland()) flags |= Qt::X11BypassWindowManagerHint;
  setWindowFlags(flags);
  // A compositor does not cut windows to their shape: the corners are see-through by their alpha.
  if (OnXWayland()) setAttribute(Qt::WA_TranslucentBackground);
  setFixedSize(255, 200);
  move(1363, 208);
  setFont(WindowFont());
  setAutoFillBackground(!testAttribute(Qt::WA_TranslucentBackground));
  SetPaletteColor(*this, QPalette::Window, QColor(255, 0, 255));

  // The picture is decoded when the notice is first shown (showEvent).
  JvImage1 = Place(new PlainLabel(this), 0, 0, 254, 200);

  Label1 = Place(new PlainLabel(this), 6, 20, 249, 56);
  Label1->setAlignment(Qt::AlignCenter);
  Label1->setFont(PixelFont("Verdana", 16, true));
  SetPaletteColor(*Label1, QPalette::WindowText, Qt::black);

  Label2 = Place(new ClickableLabel("Find other DDNS", this), 8, 121, 241, 13);
  Label2->setAlignment(Qt::AlignCenter);
  QFont link = WindowFont();
  link.setBold(true);
  link.setUnderline(true);
  Label2->setFont(link);
  SetPaletteColor(*Label2, QPalette::WindowText, Qt::blue);
  Label2->setCursor(Qt::PointingHandCursor);

  Label3 = Place(new ClickableLabel("Do not remind", this), 104, 143, 81, 13);
  Button1 = Place(new QPushButton("Close", this), 101, 168, 59, 17);
  CheckBox1 = Place(new QCheckBox(this), 80, 142, 13, 15);
  setTabOrder(Button1, CheckBox1);

  WireHandler(Button1, &QPushButton::clicked, this, &TForm3::Button1Click);
  WireHandler(Label2, &ClickableLabel::clicked, this, &TForm3::Label2Click);
  WireHandler(Label3, &ClickableLabel::clicked, this, &TForm3::Label3Click);
  WireHandler(CheckBox1, &QCheckBox::toggled, this, &TForm3::CheckBox1Click);
}

void TForm3::FormCreate() {
  if (UserDefaultLangId() != kTraditionalChineseLangId) return;
  Label3->setText(QString::fromUtf8("不再提醒"));
  Label2->setText(QString::fromUtf8("找尋其他免費的DDNS服務"));
  Button1->setText(QString::fromUtf8("關閉"));
}

void TForm3::SlideInNotice() {
  show();
  raise();
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return;
  const QRect area = screen->availableGeometry();
  move(SlidePosition(area, size(), 0).x(), y());
  for (int step = 0; step < kSlideSteps; ++step) {
    move(SlidePosition(area, size(), step));
    repaint();
  }
}

// The area without the desktop's panels, wherever it lies among several monitors: a panel at the
// bottom would otherwise cover the notice and its Close button.
QPoint TForm3::SlidePosition(const QRect& area, QSize window, int step) {
  return {area.x() + area.width() - window.width(),
          area.y() + area.height() - window.height() + kSlideStartBelow - step};
}

void TForm3::Button1Click() { hide(); }

QString TForm3::SearchAddress() { return QString(build::kSearchHost) + "/search?q=free+ddns"; }

void TForm3::Label2Click() {
  QDesktopServices::openUrl(QUrl::fromUserInput(SearchAddress()));  // a failure is not reported
}

void TForm3::Label3Click() { CheckBox1->toggle(); }

void TForm3::CheckBox1Click() {
  SettingsAccess settings;
  if (settings.OpenSettings(false)) settings.WriteFlag("Remind", !CheckBox1->isChecked());
}

void TForm3::showEvent(QShowEvent* event) {
  if (JvImage1->pixmap().isNull()) {
    const QPixmap background = LoadArtwork(":/notice.png");
    JvImage1->setPixmap(background);
    // The artwork's transparent corners (and the column right of it) are see-through: shape the window.
    if (!background.isNull()) setMask(background.mask());
  }
  KeepOffTaskbar(*this);
  QWidget::showEvent(event);
}

void TForm3::closeEvent(QCloseEvent* event) { QWidget::closeEvent(event); }

}  // namespace hw
