#include "account/Unit2.h"

#include <QCloseEvent>

#include "app/Unit1.h"

namespace hw {

TForm2* Form2 = nullptr;

TForm2::TForm2(QWidget* parent) : QWidget(parent) {
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
}

void TForm2::closeEvent(QCloseEvent* event) {
  // Closing the dialog gives the main window and the update cycle back.
  if (Form1) {
    Form1->setEnabled(true);
    Form1->Timer1->start();
  }
  QWidget::closeEvent(event);
}

}  // namespace hw
