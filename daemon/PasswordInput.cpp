#include "daemon/PasswordInput.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>

namespace hw {
namespace {

termios savedTerminal{};

// Ctrl+C at the prompt: the terminal gets its echo back before the program ends.
void RestoreTerminalAndEnd(int signal) {
  ::tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
  // The new line is a courtesy to the terminal: whether it got there changes nothing now.
  if (::write(STDERR_FILENO, "\n", 1) < 0) ::_exit(128 + signal);
  ::_exit(128 + signal);
}

class EchoOff {
 public:
  EchoOff() {
    if (::tcgetattr(STDIN_FILENO, &savedTerminal) != 0) return;
    struct sigaction action {};
    action.sa_handler = RestoreTerminalAndEnd;
    ::sigaction(SIGINT, &action, &oldInt_);
    ::sigaction(SIGTERM, &action, &oldTerm_);
    termios quiet = savedTerminal;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    active_ = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
  }
  ~EchoOff() {
    if (!active_) return;
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
    ::sigaction(SIGINT, &oldInt_, nullptr);
    ::sigaction(SIGTERM, &oldTerm_, nullptr);
    std::fputc('\n', stderr);  // the Enter that was not echoed
  }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;

 private:
  bool active_ = false;
  struct sigaction oldInt_ {};
  struct sigaction oldTerm_ {};
};

std::optional<std::string> ReadLine() {
  std::string line;
  for (int c; (c = std::fgetc(stdin)) != EOF;) {
    if (c == '\n') break;
    if (line.size() == kMostInputBytes) return std::nullopt;
    line += static_cast<char>(c);
  }
  if (line.empty() && std::feof(stdin)) return std::nullopt;
  if (line.ends_with('\r')) line.pop_back();
  return line;
}

}  // namespace

bool InputIsTerminal() { return ::isatty(STDIN_FILENO) == 1; }

std::optional<std::string> ReadInputLine(const std::string& prompt, bool hidden) {
  if (!InputIsTerminal()) return ReadLine();
  std::fputs(prompt.c_str(), stderr);
  std::fflush(stderr);
  if (!hidden) return ReadLine();
  const EchoOff quiet;
  return ReadLine();
}

}  // namespace hw
