#include "shell/MessageBoxes.h"

#include <QMessageBox>

#include "shell/TestBuild.h"

namespace hw {
namespace {

class DialogBoxes : public MessageBoxes {
 public:
  BoxAnswer Show(const BoxRequest& request) override {
    QMessageBox box(IconOf(request.icon), QString::fromStdString(request.title), QString::fromStdString(request.text));
    box.setTextFormat(Qt::PlainText);  // messages quote the service's status lines
    if (request.buttons == BoxButtons::OkCancel) {
      box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
      box.setEscapeButton(QMessageBox::Cancel);
      return box.exec() == QMessageBox::Ok ? BoxAnswer::Ok : BoxAnswer::Cancel;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return BoxAnswer::Ok;
  }

 private:
  static QMessageBox::Icon IconOf(BoxIcon icon) {
    switch (icon) {
      case BoxIcon::Error: return QMessageBox::Critical;
      case BoxIcon::None: return QMessageBox::NoIcon;
      case BoxIcon::Information: break;
    }
    return QMessageBox::Information;
  }
};

std::unique_ptr<MessageBoxes>& Installed() {
  static std::unique_ptr<MessageBoxes> boxes;
  return boxes;
}

}  // namespace

std::unique_ptr<MessageBoxes> MakeDialogBoxes() { return std::make_unique<DialogBoxes>(); }

MessageBoxes& Boxes() {
  auto& boxes = Installed();
  if (!boxes) {
    if (TestTraceEnabled())
      boxes = MakeTracedBoxes();
    else
      boxes = MakeDialogBoxes();
  }
  return *boxes;
}

std::unique_ptr<MessageBoxes> SetBoxes(std::unique_ptr<MessageBoxes> boxes) {
  auto previous = std::move(Installed());
  Installed() = std::move(boxes);
  return previous;
}

void ShowInformation(const std::string& text) { Boxes().Show({"Information", text, BoxIcon::Information}); }

}  // namespace hw
