#include "account/Unit4.h"

#include <QShowEvent>

#include "account/Unit2.h"
#include "app/Unit1.h"
#include "shell/HandlerWiring.h"
#include "shell/WindowFont.h"
#include "shell/WindowPlacement.h"

namespace hw {

TForm4* Form4 = nullptr;

namespace {

QFont VerdanaBold(int pixels) {
  QFont font("Verdana");
  font.setPixelSize(pixels);
  font.setBold(true);
  return font;
}

}  // namespace

TForm4::TForm4(QWidget* parent) : QWidget(parent) {
  setWindowTitle("Success");
  setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setFixedSize(424, 183);
  setFont(WindowFont());
  Panel1 = new QFrame(this);
  Panel1->setGeometry(8, 8, 409, 169);
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  Button1 = new QPushButton("Close", this);
  Button1->setObjectName("Form4Close");
  Button1->setGeometry(176, 136, 75, 25);
  Button1->setFont(VerdanaBold(12));
  WireHandler(Button1, &QPushButton::clicked, this, &TForm4::Button1Click);
}

void TForm4::EnsureMemo() {
  if (Memo1) return;
  Memo1 = new QPlainTextEdit(this);
  Memo1->setGeometry(16, 16, 393, 153);
  Memo1->setReadOnly(true);
  Memo1->setFrameShape(QFrame::NoFrame);
  Memo1->setFont(VerdanaBold(13));
  Memo1->viewport()->setAutoFillBackground(false);  // the window's button-face colour shows through
  Memo1->stackUnder(Button1);                       // the button stands on the result, as designed
  Memo1->show();
}

void TForm4::ShowResult(const std::vector<std::string>& lines) {
  EnsureMemo();
  Memo1->clear();
  for (const std::string& line : lines) Memo1->appendPlainText(QString::fromStdString(line));
}

void TForm4::Button1Click() {
  Form1->Timer1->Enable();
  Form1->SendQuery(Form1->MachineId, "check");
  Form2->close();
  close();
}

void TForm4::showEvent(QShowEvent* event) {
  EnsureMemo();
  QWidget::showEvent(event);
  if (!placed_ && !event->spontaneous()) CenterOnPrimaryScreen(*this);
  placed_ = true;
}

}  // namespace hw
