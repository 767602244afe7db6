#pragma once
#include <QLabel>
#include <QMouseEvent>

namespace hw {

// A label that reports a left click, like the banner labels and link labels of the windows.
class ClickableLabel : public QLabel {
  Q_OBJECT

 public:
  using QLabel::QLabel;

 signals:
  void clicked();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) emit clicked();
    QLabel::mouseReleaseEvent(event);
  }
};

}  // namespace hw
