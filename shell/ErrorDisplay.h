#pragma once
#include <QApplication>
#include <exception>
#include <string>

#include "common/AppError.h"

namespace hw {

// The error box of an error that left its handler: application title, stop icon, one OK button.
void ShowErrorBox(const std::string& message);
// The report of an error that escaped outside the event loop; the program ends after it.
void ShowUnhandledErrorReport(const std::exception& error);

// Runs a handler; an error that leaves it is shown in the error box and the program runs on.
template <typename Handler>
void RunHandler(Handler&& handler) {
  try {
    handler();
  } catch (const std::exception& error) {
    ShowErrorBox(MessageOf(error));
  }
}

// Catches the errors that leave event handlers (close events, paint events and the like), so that
// one failing handler never ends the program.
class HostwardenApplication : public QApplication {
 public:
  HostwardenApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;

 protected:
  // The session's end (the session manager's "die", a quit of the toolkit) ends the program at once,
  // without asking the windows: the main window would only hide or minimise when asked to close.
  bool event(QEvent* event) override;
};

}  // namespace hw
