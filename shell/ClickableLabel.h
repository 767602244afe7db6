#pragma once
#include <QMouseEvent>

#include "shell/PlainLabel.h"

namespace hw {

// A label that reports a left click, like the banner labels and link labels of the windows.
class ClickableLabel : public PlainLabel {
  Q_OBJECT

 public:
  using PlainLabel::PlainLabel;

 signals:
  void clicked();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) emit clicked();
    PlainLabel::mouseReleaseEvent(event);
  }
};

}  // namespace hw
