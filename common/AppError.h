#pragma once
#include <stdexcept>
#include <string>

namespace hw {

// Every failure of the program is an error that carries one message text; callers show that text
// verbatim. The subclasses only let a handler catch the one kind it is meant to handle.
class AppError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A service request failed (lookup, connect, send, receive, HTTP status). Handlers log these.
class TransportError : public AppError {
 public:
  using AppError::AppError;
};

// A settings value could not be read or written, or had the wrong type.
class SettingsError : public AppError {
 public:
  using AppError::AppError;
};

// A reply or stored value could not be converted (integers, dates, base64).
class ConvertError : public AppError {
 public:
  using AppError::AppError;
};

// A list was indexed past its end (the server clock's reply had too few lines).
class ListIndexError : public AppError {
 public:
  using AppError::AppError;
};

// Replaces the first "%s" of a message template with the value.
inline std::string FormatMessage(std::string templ, const std::string& value) {
  const auto at = templ.find("%s");
  if (at != std::string::npos) templ.replace(at, 2, value);
  return templ;
}

}  // namespace hw
