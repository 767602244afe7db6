#pragma once
#include <exception>
#include <string>

namespace hw {

// The texts of the two error boxes, apart from the boxes themselves, so they can be checked
// without a display.

// The program file's name up to its first dot, every letter after the first in lower case.
std::string ApplicationTitle(const std::string& programFile);
// The title of the error box: the application title of the running program.
std::string ErrorBoxTitle();
// The message with a full stop appended when its last character sorts after ".".
std::string ErrorBoxText(const std::string& message);
// "Exception <class> in module <file> at <address>.\r\n<message>\r\n": the report of an error
// that escaped outside the event loop. Its layout is what users quote in their reports.
std::string UnhandledErrorReport(const std::exception& error);

}  // namespace hw
