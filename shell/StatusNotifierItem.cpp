#include "shell/StatusNotifierItem.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QMenu>

#include "shell/DBusMenu.h"

namespace hw {

QDBusArgument& operator<<(QDBusArgument& argument, const SniPixmap& pixmap) {
  argument.beginStructure();
  argument << pixmap.width << pixmap.height << pixmap.argb;
  argument.endStructure();
  return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, SniPixmap& pixmap) {
  argument.beginStructure();
  argument >> pixmap.width >> pixmap.height >> pixmap.argb;
  argument.endStructure();
  return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const SniToolTip& tip) {
  argument.beginStructure();
  argument << tip.iconName << tip.iconPixmaps << tip.title << tip.text;
  argument.endStructure();
  return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, SniToolTip& tip) {
  argument.beginStructure();
  argument >> tip.iconName >> tip.iconPixmaps >> tip.title >> tip.text;
  argument.endStructure();
  return argument;
}

namespace {

constexpr int kWatcherAnswerMs = 2000;

SniPixmap ToSniPixmap(const QImage& source) {
  const QImage image = source.convertToFormat(QImage::Format_ARGB32);
  SniPixmap pixmap{image.width(), image.height(), {}};
  pixmap.argb.reserve(image.width() * image.height() * 4);
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QRgb pixel = image.pixel(x, y);
      for (int value : {qAlpha(pixel), qRed(pixel), qGreen(pixel), qBlue(pixel)}) pixmap.argb.append(char(value));
    }
  }
  return pixmap;
}

void RegisterTypes() {
  static const bool registered = [] {
    qDBusRegisterMetaType<SniPixmap>();
    qDBusRegisterMetaType<SniPixmaps>();
    qDBusRegisterMetaType<SniToolTip>();
    DBusMenu::RegisterTypes();
    return true;
  }();
  (void)registered;
}

}  // namespace

SniPixmaps ToSniPixmaps(const QImage& image) {
  if (image.isNull()) return {};
  return {ToSniPixmap(image), ToSniPixmap(image.scaled(image.size() * 2, Qt::IgnoreAspectRatio, Qt::FastTransformation))};
}

StatusNotifierItem::StatusNotifierItem(const QImage& icon, const QImage& attentionIcon, QMenu* menu, QObject* parent)
    : QObject(parent),
      serviceName_(QStringLiteral("org.kde.StatusNotifierItem-%1-1").arg(QCoreApplication::applicationPid())),
      icon_(ToSniPixmaps(icon)),
      attentionIcon_(ToSniPixmaps(attentionIcon)),
      menu_(menu),
      dbusMenu_(new DBusMenu(menu, this)) {
  RegisterTypes();
}

StatusNotifierItem::~StatusNotifierItem() { Unregister(); }

QString StatusNotifierItem::Id() const { return QCoreApplication::applicationName(); }
QString StatusNotifierItem::Title() const { return QCoreApplication::applicationName(); }

bool StatusNotifierItem::Register() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return false;
  constexpr auto kExport = QDBusConnection::ExportScriptableContents | QDBusConnection::ExportAllProperties;
  if (!bus.objectRegisteredAt(kItemPath)) {
    bus.registerObject(kItemPath, this, kExport);
    bus.registerObject(kMenuPath, dbusMenu_, kExport);
    bus.registerService(serviceName_);
  }
  QDBusMessage call = QDBusMessage::createMethodCall(kWatcherService, "/StatusNotifierWatcher", kWatcherService,
                                                     "RegisterStatusNotifierItem");
  call << serviceName_;
  registered_ = bus.call(call, QDBus::Block, kWatcherAnswerMs).type() == QDBusMessage::ReplyMessage;
  return registered_;
}

void StatusNotifierItem::Unregister() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected() || !bus.objectRegisteredAt(kItemPath)) return;
  bus.unregisterService(serviceName_);
  bus.unregisterObject(kMenuPath);
  bus.unregisterObject(kItemPath);
  registered_ = false;
}

void StatusNotifierItem::SetNeedsAttention(bool needsAttention) {
  if (needsAttention_ == needsAttention) return;
  needsAttention_ = needsAttention;
  emit NewStatus(Status());
  // Some hosts draw again only when told the picture changed (Xfce's panel kept the attention
  // picture after "Active" without it): one more signal per change, never one per blink.
  emit NewIcon();
}

void StatusNotifierItem::Activate(int, int) {
  // After the host's call has been answered: showing the window may wait on the window system.
  QMetaObject::invokeMethod(this, &StatusNotifierItem::activated, Qt::QueuedConnection);
}

void StatusNotifierItem::SecondaryActivate(int, int) {}

void StatusNotifierItem::ContextMenu(int x, int y) {
  QMetaObject::invokeMethod(menu_, [this, x, y] { menu_->popup(QPoint(x, y)); }, Qt::QueuedConnection);
}

void StatusNotifierItem::Scroll(int, const QString&) {}

}  // namespace hw
