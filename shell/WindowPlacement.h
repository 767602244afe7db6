#pragma once
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace hw {

// Centres the window's frame on the primary screen. The frame's size is known only once the window
// is shown; before, the window is placed by its client area.
inline void CenterOnPrimaryScreen(QWidget& window) {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return;
  window.move(window.pos() + screen->geometry().center() - window.frameGeometry().center());
}

}  // namespace hw
