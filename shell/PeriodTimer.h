#pragma once
#include <QTimer>

namespace hw {

// A repeating timer that is switched on and off like a switch: switching on a running timer leaves
// its period as it is (a plain start() would begin the period anew and could put the next tick off
// for ever), and switching off a stopped one changes nothing.
class PeriodTimer : public QTimer {
 public:
  using QTimer::QTimer;
  void Enable() {
    if (!isActive()) start();
  }
  void Disable() { stop(); }
};

}  // namespace hw
