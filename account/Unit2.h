#pragma once
#include <QWidget>

namespace hw {

// The registration dialog: lets the user register an account name for this machine.
class TForm2 : public QWidget {
  Q_OBJECT

 public:
  explicit TForm2(QWidget* parent = nullptr);

 protected:
  void closeEvent(QCloseEvent* event) override;
};

extern TForm2* Form2;

}  // namespace hw
