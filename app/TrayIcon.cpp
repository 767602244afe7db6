#include "app/TrayIcon.h"

#include <QMenu>
#include <QPainter>
#include <QSystemTrayIcon>

#include "shell/Artwork.h"
#include "shell/DesktopNotification.h"
#include "shell/HandlerWiring.h"
#include "shell/StatusNotifierItem.h"

namespace hw {

namespace {

// The logo with a red mark at its lower right: the item's attention picture on hosts that show one.
QImage MarkedForAttention(const QImage& logo) {
  QImage marked = logo.convertToFormat(QImage::Format_ARGB32);
  QPainter painter(&marked);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(Qt::white, 1));
  painter.setBrush(QColor(220, 30, 30));
  const int size = marked.width() / 2;
  painter.drawEllipse(QRectF(marked.width() - size - 0.5, marked.height() - size - 0.5, size, size));
  return marked;
}

}  // namespace

TrayIcon::TrayIcon(QMenu* menu, QString title, QObject* parent)
    : QObject(parent), menu_(menu), title_(std::move(title)), blinkTimer_(this), watch_(this) {
  logo_ = LoadArtwork(":/logo16.png").toImage();
  images_[0] = QIcon(QPixmap::fromImage(logo_));
  images_[1] = QIcon(LoadArtwork(":/blank16.png"));
  blinkTimer_.setInterval(kBlinkIntervalMs);
  WireHandler(&blinkTimer_, &QTimer::timeout, this, &TrayIcon::AdvanceBlink);
  host_ = watch_.Kind();
  connect(&watch_, &TrayHostWatch::kindChanged, this, &TrayIcon::UseHost);
}

TrayIcon::~TrayIcon() = default;

QSystemTrayIcon& TrayIcon::Icon() {
  if (!xembed_) {
    // Made only when wanted: making it lets the toolkit choose its own kind of tray once for all.
    xembed_ = std::make_unique<QSystemTrayIcon>(images_[imageIndex_]);
    xembed_->setContextMenu(menu_);
    WireHandler(xembed_.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
      if (reason == QSystemTrayIcon::DoubleClick) emit doubleClicked();
    });
  }
  return *xembed_;
}

StatusNotifierItem& TrayIcon::Item() {
  if (!item_) {
    item_ = new StatusNotifierItem(logo_, MarkedForAttention(logo_), menu_, this);
    WireHandler(item_, &StatusNotifierItem::activated, this, [this] { emit activated(); });
  }
  return *item_;
}

void TrayIcon::SetVisible(bool visible) {
  visible_ = visible;
  Apply();
}

void TrayIcon::UseHost(TrayHostKind kind) {
  host_ = kind;
  Apply();
}

bool TrayIcon::Unreachable() const { return visible_ && host_ == TrayHostKind::None && !watch_.Settling(); }

// Puts the icon, its state included, where the current host shows it, and nowhere else.
void TrayIcon::Apply() {
  const bool onBus = visible_ && host_ == TrayHostKind::StatusNotifier;
  const bool embedded = visible_ && host_ == TrayHostKind::XEmbed;
  if (item_ && !onBus) item_->Unregister();
  if (onBus) {
    Item().SetNeedsAttention(attention_);
    if (!item_->IsRegistered()) item_->Register();
  }
  if (xembed_ || embedded) Icon().setVisible(embedded);
  // The blink is only for a tray that shows the pictures; elsewhere it would wake the program
  // for nothing.
  if (embedded && attention_ && !blinkTimer_.isActive()) blinkTimer_.start();
  if (!embedded) blinkTimer_.stop();
  NotifyIfUnseen();
  emit hostChanged();
}

void TrayIcon::StartBlinking(const QString& reason) {
  if (!attention_) attentionNotified_ = false;
  attention_ = true;
  SetImageIndex(kLogoImage);
  if (host_ == TrayHostKind::XEmbed) blinkTimer_.start();
  if (item_) item_->SetNeedsAttention(true);
  if (!attentionNotified_) notificationText_ = reason;
  NotifyIfUnseen();
}

void TrayIcon::StopBlinking() {
  attention_ = false;
  attentionNotified_ = false;
  blinkTimer_.stop();
  SetImageIndex(kLogoImage);
  if (item_) item_->SetNeedsAttention(false);
}

// Without a tray, the change to the attention state is said once by the desktop's notifications.
void TrayIcon::NotifyIfUnseen() {
  if (!attention_ || attentionNotified_ || !Unreachable()) return;
  attentionNotified_ = true;
  RaiseDesktopNotification(title_, notificationText_);
}

void TrayIcon::SetImageIndex(int index) {
  imageIndex_ = index;
  if (xembed_) xembed_->setIcon(images_[index]);
}

void TrayIcon::AdvanceBlink() { SetImageIndex((imageIndex_ + 1) % 2); }

}  // namespace hw
