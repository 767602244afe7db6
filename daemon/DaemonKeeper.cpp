#include "daemon/DaemonKeeper.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "common/AppError.h"
#include "core/Registration.h"
#include "daemon/ExitCodes.h"
#include "daemon/LastReply.h"
#include "lifetime/ServerClock.h"
#include "platform/TestSwitches.h"
#include "settings/SettingsStore.h"
#include "update/PackageSource.h"

namespace hw {
namespace {

// "yyyy-mm-dd hh:mm:ss" of a service clock reading.
std::string FullStamp(const DateTime& when) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", when.Year(), when.Month(), when.Day(),
                when.Hour(), when.Minute(), when.Second());
  return text;
}

// A notice meant for a window, as one line: its line breaks become blanks.
std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  text.erase(std::unique(text.begin(), text.end(), [](char a, char b) { return a == ' ' && b == ' '; }), text.end());
  return text;
}

}  // namespace

DaemonKeeper::DaemonKeeper(DaemonEvents& events)
    : AccountKeeper([&events] { events.WhileWaiting(); }), events_(events) {}

DaemonKeeper::~DaemonKeeper() = default;

void DaemonKeeper::AddLogLine(const std::string& line) { WriteJournalLine(line); }

bool DaemonKeeper::HandOffUpdate(const std::string& offered) {
  // The package manager installs and upgrades the daemon: a newer version is said once a run.
  const std::string version = OfferedVersion(offered);
  if (offered_.Contains(version)) return false;
  offered_.Add(version);
  AddLogLine(LogStamp() + " " + GetLangStr(PackageManagerUpdateTextId(), version));
  return false;
}

void DaemonKeeper::ShowCountdownNotice(const std::string& text) { AddLogLine(LogStamp() + " " + OneLine(text)); }

void DaemonKeeper::ShowUpdatedAddress(const std::string& hostName, const std::string& address) {
  (void)hostName;
  (void)address;  // the logged line says both, and "status" shows it
}

void DaemonKeeper::QueryAnswered(const std::string& line) { lastReply_.Save({FullStamp(ServerNow), line}); }

bool DaemonKeeper::WaitForClock(std::chrono::milliseconds retry) {
  for (;;) {
    try {
      ServerNow = CheckDate();
      return true;
    } catch (const AppError&) {
      // Unreachable at boot is common (network not up yet): tried again, silent apart from the
      // transport failure's log line.
    }
    const auto due = DaemonEvents::Clock::now() + retry;
    DaemonEvents::Event event;
    while ((event = events_.WaitUntil(due)) == DaemonEvents::Event::Reread) {
    }
    if (event == DaemonEvents::Event::Stop) return false;
  }
}

int DaemonKeeper::Run(const Periods& periods, long tickLimit) {
  if (!WaitForClock(periods.startupRetry)) return kExitDone;
  if (!IdentifyMachine()) {
    AddLogLine(GetLangStr("28"));
    return kExitNoIdentity;
  }
  if (!ReadAccount()) return AccountGone();
  LoadAccountAndStart();
  if (!registered_) return AccountGone();
  TestTraceLine("waiting for the first tick");
  auto due = DaemonEvents::Clock::now() + periods.tick;
  for (long ticks = 0; tickLimit <= 0 || ticks < tickLimit;) {
    const auto watchDue = Watch() ? Watch()->NextDue() : std::nullopt;
    const auto event = events_.WaitUntil(watchDue ? std::min(due, *watchDue) : due, WatchDescriptors());
    const auto now = DaemonEvents::Clock::now();
    if (event == DaemonEvents::Event::Stop) return kExitDone;
    if (event == DaemonEvents::Event::Reread) ReloadAccount();
    if (event == DaemonEvents::Event::Due && now >= due) {
      // The rhythm of a repeating timer: a late tick does not move the ones after it.
      due = std::max(due + periods.tick, now);
      RunTick();
      ++ticks;
    }
    Logged([&] { AttendAddressWatch(event == DaemonEvents::Event::Input); });
    if (!registered_) return AccountGone();
  }
  return kExitDone;
}

template <typename Step>
void DaemonKeeper::Logged(Step step) {
  try {
    step();
  } catch (const std::exception& error) {
    LogError(error);  // what the tray client would show in a box; the next tick tries again
  }
}

void DaemonKeeper::RunTick() { Logged([this] { Tick(); }); }

std::vector<int> DaemonKeeper::WatchDescriptors() const {
  return Watch() ? Watch()->Descriptors() : std::vector<int>{};
}

bool DaemonKeeper::ReadAccount() {
  const auto account = ReadStoredAccount();
  registered_ = account.has_value();
  if (!registered_) return false;
  UserName = account->name;
  Password = account->password;
  return true;
}

void DaemonKeeper::ReloadAccount() {
  if (!ReadAccount()) return;
  Logged([this] {
    SendQuery(MachineId, "check");
    UpdateAddressWatch();
  });
}

int DaemonKeeper::Release() {
  if (!IdentifyMachine()) {
    AddLogLine(GetLangStr("28"));
    return kExitNoIdentity;
  }
  if (!ReadAccount()) return AccountGone();
  if (!ForgetAccount()) {
    WriteJournalLine("hostwarden-daemon: cannot write the settings file " + SettingsFile() + "; nothing was released");
    return kExitSettings;
  }
  ::unlink(LastReplyFile().c_str());
  // The in-memory account stays, so the service learns which account is released.
  if (!SendQuery(MachineId, "del")) {
    WriteJournalLine("hostwarden-daemon: the account is deleted here, but the service did not confirm the release");
    return kExitUnreachable;
  }
  std::printf("%s\n", GetLangStr("16").c_str());
  return kExitDone;
}

int DaemonKeeper::AccountGone() {
  WriteJournalLine("hostwarden-daemon: no account is registered on this machine; register one with "
                   "\"hostwarden-daemon register NAME\"");
  return kExitNoAccount;
}

}  // namespace hw
