#pragma once
#include <QMetaObject>
#include <QTimer>

namespace hwtest {

// Emits the timer's own timeout signal, as its expiry would, so the test goes through the
// connection the window made and needs no waiting. (The signal is private to the timer class; the
// meta-object system reaches it by name.)
inline void FireTimer(QTimer& timer) { QMetaObject::invokeMethod(&timer, "timeout", Qt::DirectConnection); }

}  // namespace hwtest
