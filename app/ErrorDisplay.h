#pragma once
#include <QApplication>
#include <exception>
#include <string>

namespace hw {

// The program file's name up to its first dot, every letter after the first in lower case.
std::string ApplicationTitle(const std::string& programFile);
// The message with a full stop appended when its last character sorts after ".".
std::string ErrorBoxText(const std::string& message);
// The error box of an error that left its handler: application title, stop icon, one OK button.
void ShowErrorBox(const std::string& message);
// The report of an error that escaped outside the event loop; the program ends after it.
std::string UnhandledErrorReport(const std::exception& error);
void ShowUnhandledErrorReport(const std::exception& error);

// Runs a handler; an error that leaves it is shown in the error box and the program runs on.
template <typename Handler>
void RunHandler(Handler&& handler) {
  try {
    handler();
  } catch (const std::exception& error) {
    ShowErrorBox(error.what());
  }
}

// Catches the errors that leave event handlers, so that one failing handler never ends the program.
class HostwardenApplication : public QApplication {
 public:
  HostwardenApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace hw
