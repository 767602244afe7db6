#include "account/Unit4.h"

namespace hw {

TForm4* Form4 = nullptr;

TForm4::TForm4(QWidget* parent) : QWidget(parent) {
  setWindowTitle("Success");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
}

}  // namespace hw
