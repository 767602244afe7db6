#pragma once
#include <QLabel>

namespace hw {

// A label that shows its text as it is. A label left to itself guesses whether a text is markup,
// and the windows show texts from the service and from lang.ini: a reply "<font color=red>" or
// "<img src=...>" must appear as those characters, never be rendered.
class PlainLabel : public QLabel {
  Q_OBJECT

 public:
  explicit PlainLabel(QWidget* parent = nullptr) : PlainLabel(QString(), parent) {}
  explicit PlainLabel(const QString& text, QWidget* parent = nullptr) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setText(text);
  }
};

}  // namespace hw
