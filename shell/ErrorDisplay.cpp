#include "shell/ErrorDisplay.h"

#include "shell/ErrorText.h"
#include "shell/MessageBoxes.h"
#include "shell/ProgramExit.h"

namespace hw {

void ShowErrorBox(const std::string& message) {
  Boxes().Show({ErrorBoxTitle(), ErrorBoxText(message), BoxIcon::Error});
}

void ShowUnhandledErrorReport(const std::exception& error) {
  Boxes().Show({"Application Error", UnhandledErrorReport(error), BoxIcon::Error});
}

HostwardenApplication::HostwardenApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool HostwardenApplication::event(QEvent* event) {
  if (event->type() != QEvent::Quit) return QApplication::event(event);
  RequestProgramExit();
  return true;
}

bool HostwardenApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& error) {
    ShowErrorBox(MessageOf(error));
  }
  return false;
}

}  // namespace hw
