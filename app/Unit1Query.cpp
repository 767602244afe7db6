// What the main window shows of a query's reply.
#include "app/Unit1.h"

namespace hw {

void TForm1::ShowUpdatedAddress(const std::string& hostName, const std::string& address) {
  Label5->setText(QString::fromStdString(hostName));
  Label6->setText(QString::fromStdString(address));
}

void TForm1::EnterUnregisteredState() {
  Timer1->Disable();
  Button2->setText(QString::fromStdString(GetLangStr("1")));
  Button3->setEnabled(false);
  // The reply's line, just logged, says why: it is the text of a desktop notification.
  const int lines = ListBox1->count();
  CoolTrayIcon1->StartBlinking(lines ? ListBox1->Line(lines - 1) : QString());
}

}  // namespace hw
