#include "shell/TrayHostWatch.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QSystemTrayIcon>
#include <cstring>

#include "platform/TestSwitches.h"
#include "shell/StatusNotifierItem.h"

namespace hw {

namespace {

constexpr int kBusAnswerMs = 1000;

bool IsStatusNotifierHostRegistered(QDBusConnection& bus) {
  QDBusMessage get = QDBusMessage::createMethodCall(StatusNotifierItem::kWatcherService, "/StatusNotifierWatcher",
                                                    "org.freedesktop.DBus.Properties", "Get");
  get << QString(StatusNotifierItem::kWatcherService) << QStringLiteral("IsStatusNotifierHostRegistered");
  const QDBusMessage reply = bus.call(get, QDBus::Block, kBusAnswerMs);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return false;
  return reply.arguments().first().value<QDBusVariant>().variant().toBool();
}

bool HasStatusNotifierHost() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected() || !bus.interface()) return false;
  if (!bus.interface()->isServiceRegistered(StatusNotifierItem::kWatcherService)) return false;
  return IsStatusNotifierHostRegistered(bus);
}

bool IsX11() { return QGuiApplication::platformName() == QLatin1String("xcb"); }

// A test build may fix the kind (HOSTWARDEN_TEST_TRAY_HOST: none, xembed or sni); it then never
// changes.
const char* FixedKindSwitch() { return TestSwitch("HOSTWARDEN_TEST_TRAY_HOST"); }

TrayHostKind FixedKind(const char* name) {
  if (std::strcmp(name, "sni") == 0) return TrayHostKind::StatusNotifier;
  if (std::strcmp(name, "xembed") == 0) return TrayHostKind::XEmbed;
  return TrayHostKind::None;
}

}  // namespace

const char* TrayHostName(TrayHostKind kind) {
  switch (kind) {
    case TrayHostKind::StatusNotifier: return "StatusNotifierItem";
    case TrayHostKind::XEmbed: return "XEmbed";
    case TrayHostKind::None: break;
  }
  return "none";
}

TrayHostKind TrayHostWatch::Detect() {
  if (const char* fixed = FixedKindSwitch()) return FixedKind(fixed);
  if (HasStatusNotifierHost()) return TrayHostKind::StatusNotifier;
  // Asked only when no StatusNotifierItem host is there: the toolkit decides once, at its first
  // question, whether its own tray icon goes over the bus, and ours must stay the X11 one.
  if (IsX11() && QSystemTrayIcon::isSystemTrayAvailable()) return TrayHostKind::XEmbed;
  return TrayHostKind::None;
}

TrayHostWatch::TrayHostWatch(QObject* parent) : QObject(parent), graceTimer_(this) {
  graceTimer_.setSingleShot(true);
  graceTimer_.setInterval(kGraceMs);
  connect(&graceTimer_, &QTimer::timeout, this, [this] {
    kind_ = Detect();
    emit kindChanged(kind_);  // a None now stands; or whatever came meanwhile
  });
  kind_ = Detect();
  if (FixedKindSwitch()) return;
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (bus.isConnected()) {
    busWatch_ = new QDBusServiceWatcher(StatusNotifierItem::kWatcherService, bus,
                                        QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(busWatch_, &QDBusServiceWatcher::serviceOwnerChanged, this, &TrayHostWatch::Recheck);
    // A watcher may be there before its host (a panel starting): the host's arrival is announced.
    bus.connect(StatusNotifierItem::kWatcherService, "/StatusNotifierWatcher", StatusNotifierItem::kWatcherService,
                "StatusNotifierHostRegistered", this, SLOT(Recheck()));
  }
  if (IsX11()) WatchX11Tray();
  if (kind_ == TrayHostKind::None) graceTimer_.start();  // at login the panel may still be starting
}

void TrayHostWatch::WatchX11Tray() {
  // The X11 platform announces a tray taking or dropping its selection on its native interface, a
  // QObject whose only base is QObject; the signal is reachable by name alone.
  auto* native = reinterpret_cast<QObject*>(QGuiApplication::platformNativeInterface());
  if (native) connect(native, SIGNAL(systemTrayWindowChanged(QScreen*)), this, SLOT(Recheck()));
}

void TrayHostWatch::Recheck() { Settle(Detect()); }

bool TrayHostWatch::Settling() const { return graceTimer_.isActive(); }

void TrayHostWatch::Settle(TrayHostKind seen) {
  if (seen == TrayHostKind::None && (kind_ != TrayHostKind::None || graceTimer_.isActive())) {
    if (!graceTimer_.isActive()) graceTimer_.start();
    return;
  }
  graceTimer_.stop();
  if (seen == kind_) return;
  kind_ = seen;
  emit kindChanged(kind_);
}

}  // namespace hw
