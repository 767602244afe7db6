#pragma once
#include <QFont>

namespace hw {

// The windows' font: a sans-serif with 11-pixel-high characters. The captions were laid out for
// it; a narrow face keeps them inside their fixed places in every language of lang.ini (the
// desktop's own font would clip "Do not remind" and the main window's button captions).
inline QFont WindowFont() {
  QFont font("Liberation Sans Narrow");
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(11);
  return font;
}

}  // namespace hw
