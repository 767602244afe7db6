#include "app/ErrorDisplay.h"

#include <cxxabi.h>

#include <cctype>
#include <cstdio>
#include <memory>
#include <typeinfo>

#include "app/MessageBoxes.h"
#include "platform/ProgramFolder.h"

namespace hw {
namespace {

// The program file's name; the reports must still be shown when it cannot be found.
std::string ProgramFileName() {
  try {
    const std::string file = ProgramFile();
    return file.substr(file.rfind('/') + 1);
  } catch (const std::exception&) {
    return "Hostwarden";
  }
}

std::string ErrorClassName(const std::exception& error) {
  const char* mangled = typeid(error).name();
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> demangled(abi::__cxa_demangle(mangled, nullptr, nullptr, &status),
                                                    std::free);
  return status == 0 && demangled ? demangled.get() : mangled;
}

}  // namespace

std::string ApplicationTitle(const std::string& programFile) {
  std::string name = programFile.substr(programFile.rfind('/') + 1);
  name = name.substr(0, name.find('.'));
  for (std::size_t i = 1; i < name.size(); ++i)
    name[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[i])));
  return name;
}

std::string ErrorBoxText(const std::string& message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
  return message;
}

void ShowErrorBox(const std::string& message) {
  Boxes().Show({ApplicationTitle(ProgramFileName()), ErrorBoxText(message), BoxIcon::Error, false});
}

std::string UnhandledErrorReport(const std::exception& error) {
  const std::string message = error.what();
  char address[32];
  std::snprintf(address, sizeof address, "%p", static_cast<const void*>(&error));
  return "Exception " + ErrorClassName(error) + " in module " + ProgramFileName() + " at " + address + ".\r\n" +
         ErrorBoxText(message) + "\r\n";
}

void ShowUnhandledErrorReport(const std::exception& error) {
  Boxes().Show({"Application Error", UnhandledErrorReport(error), BoxIcon::Error, false});
}

HostwardenApplication::HostwardenApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool HostwardenApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& error) {
    ShowErrorBox(error.what());
  }
  return false;
}

}  // namespace hw
