#pragma once
#include <QWidget>

namespace hw {

// The window that confirms a successful registration.
class TForm4 : public QWidget {
  Q_OBJECT

 public:
  explicit TForm4(QWidget* parent = nullptr);
};

extern TForm4* Form4;

}  // namespace hw
