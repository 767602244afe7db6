#pragma once
#include <QColor>
#include <QPalette>
#include <QWidget>

namespace hw {

// Gives a widget's text one colour in every state (a disabled window's labels keep it too). Through
// the palette, not a style sheet: the first style sheet of a program loads the style-sheet engine,
// half a megabyte of a client that only waits in the tray.
inline void SetTextColor(QWidget& widget, const QColor& color) {
  QPalette palette = widget.palette();
  palette.setColor(QPalette::WindowText, color);
  widget.setPalette(palette);
}

}  // namespace hw
