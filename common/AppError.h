#pragma once
#include <exception>
#include <string>
#include <utility>

namespace hw {

// Every failure of the program is an error that carries one message text; callers show that text
// verbatim. The text keeps its length: a service's status line may hold a NUL byte and is still
// shown whole. The subclasses only let a handler catch the one kind it is meant to handle.
class AppError : public std::exception {
 public:
  explicit AppError(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& Message() const { return message_; }

 private:
  std::string message_;
};

// The whole message of any error: ours with its length, another library's up to its first NUL.
inline std::string MessageOf(const std::exception& error) {
  if (const auto* own = dynamic_cast<const AppError*>(&error)) return own->Message();
  return error.what();
}

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

// A file could not be created, written or closed; the message is the runtime's text for the
// system's error ("File access denied", "Disk full", ...).
class FileError : public AppError {
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
