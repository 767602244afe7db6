#pragma once
#include <QString>

namespace hw {

// Raises a desktop notification (org.freedesktop.Notifications on the session bus) with the title
// and the text as plain text. It does not wait for the answer: a desktop without a notification
// service simply shows nothing, and the program goes on.
void RaiseDesktopNotification(const QString& title, const QString& text);

}  // namespace hw
