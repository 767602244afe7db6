#include "daemon/DaemonEvents.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "common/AppError.h"

namespace hw {
namespace {

sigset_t HandledSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  return set;
}

}  // namespace

DaemonEvents::DaemonEvents() {
  const sigset_t set = HandledSignals();
  ::sigprocmask(SIG_BLOCK, &set, nullptr);
  fd_ = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
  if (fd_ < 0) throw AppError("Cannot receive signals: " + std::string(std::strerror(errno)));
}

DaemonEvents::~DaemonEvents() {
  ::close(fd_);
  const sigset_t set = HandledSignals();
  ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

DaemonEvents::Event DaemonEvents::TakeSignal() {
  signalfd_siginfo info{};
  while (::read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
    if (info.ssi_signo != SIGHUP) return Event::Stop;
    rereadPending_ = true;
  }
  return Event::Due;
}

DaemonEvents::Event DaemonEvents::WaitUntil(Clock::time_point due, const std::vector<int>& inputs) {
  std::vector<pollfd> entries{{fd_, POLLIN, 0}};
  for (const int input : inputs) entries.push_back({input, POLLIN, 0});
  for (;;) {
    if (TakeSignal() == Event::Stop) return Event::Stop;
    if (rereadPending_) {
      rereadPending_ = false;
      return Event::Reread;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now()).count();
    if (left <= 0) return Event::Due;
    const int ready = ::poll(entries.data(), entries.size(), static_cast<int>(std::min<long long>(left, 1'000'000'000)));
    if (ready > 0 && std::any_of(entries.begin() + 1, entries.end(), [](const pollfd& e) { return e.revents != 0; }))
      return Event::Input;
  }
}

void DaemonEvents::WhileWaiting() {
  if (TakeSignal() == Event::Stop) throw StopRequested{};
}

}  // namespace hw
