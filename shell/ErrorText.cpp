#include "shell/ErrorText.h"

#include <cxxabi.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <typeinfo>

#include "common/AppError.h"
#include "common/Text.h"
#include "platform/ProgramFolder.h"

namespace hw {
namespace {

std::string ErrorClassName(const std::exception& error) {
  const char* mangled = typeid(error).name();
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> demangled(abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
  return status == 0 && demangled ? demangled.get() : mangled;
}

}  // namespace

std::string ApplicationTitle(const std::string& programFile) {
  std::string name = programFile.substr(programFile.rfind('/') + 1);
  name = name.substr(0, name.find('.'));
  if (name.size() > 1) name = name.front() + AsciiLower(std::string_view(name).substr(1));
  return name;
}

std::string ErrorBoxTitle() { return ApplicationTitle(ProgramFileName()); }

std::string ErrorBoxText(const std::string& message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
  return message;
}

std::string UnhandledErrorReport(const std::exception& error) {
  const std::string message = MessageOf(error);
  char address[32];
  std::snprintf(address, sizeof address, "%p", static_cast<const void*>(&error));
  return "Exception " + ErrorClassName(error) + " in module " + ProgramFileName() + " at " + address + ".\r\n" +
         ErrorBoxText(message) + "\r\n";
}

}  // namespace hw
