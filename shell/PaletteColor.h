#pragma once
#include <QColor>
#include <QPalette>
#include <QWidget>

namespace hw {

// Gives one colour of a widget's palette (its text, its background) in every state: a disabled
// window's labels keep theirs too. Through the palette, not a style sheet: the first style sheet of
// a program loads the style-sheet engine, half a megabyte of a client that only waits in the tray.
inline void SetPaletteColor(QWidget& widget, QPalette::ColorRole role, const QColor& color) {
  QPalette palette = widget.palette();
  palette.setColor(role, color);
  widget.setPalette(palette);
}

}  // namespace hw
