#include "shell/DesktopNotification.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QStringList>
#include <QVariantMap>

namespace hw {

namespace {

// The protocol's body may carry markup on some servers; the service's words are never markup.
QString EscapedForBody(const QString& text) { return text.toHtmlEscaped(); }

}  // namespace

void RaiseDesktopNotification(const QString& title, const QString& text) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return;
  QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                                                     "org.freedesktop.Notifications", "Notify");
  const QVariantMap hints{{"urgency", QVariant::fromValue(uchar(1))},
                          {"desktop-entry", QStringLiteral("hostwarden")}};
  call << QCoreApplication::applicationName() << uint(0) << QString() << title << EscapedForBody(text) << QStringList()
       << hints << int(-1);
  bus.asyncCall(call);
}

}  // namespace hw
