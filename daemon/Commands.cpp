#include "daemon/Commands.h"

#include <unistd.h>

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <map>
#include <optional>

#include "BuildConfig.h"
#include "core/Registration.h"
#include "daemon/DaemonKeeper.h"
#include "daemon/ExitCodes.h"
#include "daemon/LastReply.h"
#include "daemon/PasswordInput.h"
#include "common/AppError.h"
#include "ddns/HttpClient.h"
#include "ddns/MachineIdentity.h"
#include "i18n/LangTable.h"
#include "lifetime/ServerClock.h"
#include "platform/TestSwitches.h"
#include "settings/SettingsLock.h"
#include "settings/SettingsStore.h"
#include "settings/UserChoices.h"

namespace hw {
namespace {

void Say(const std::string& text) { std::fprintf(stderr, "hostwarden-daemon: %s\n", text.c_str()); }

// A settings file that exists but that this user may not both read and write is said plainly: it
// would otherwise look like a machine without an account.
bool SettingsUsable() {
  const std::string file = SettingsFile();
  if (file.empty() || ::access(file.c_str(), F_OK) != 0 || ::access(file.c_str(), R_OK | W_OK) == 0) return true;
  Say("cannot read and write the settings file " + file + " (run as a member of the group hostwarden)");
  return false;
}

int NoAccount() {
  Say("no account is registered on this machine; register one with \"hostwarden-daemon register NAME\"");
  return kExitNoAccount;
}

// Periods of the cycle; a test build may run them faster.
DaemonKeeper::Periods CyclePeriods() {
  DaemonKeeper::Periods periods;
  if (const char* speedup = TestSwitch("HOSTWARDEN_TEST_SPEEDUP")) {
    const long factor = std::max(1L, std::atol(speedup));
    periods.tick /= factor;
    periods.startupRetry /= factor;
  }
  return periods;
}

long TickLimit() {
  const char* ticks = TestSwitch("HOSTWARDEN_TEST_TICKS");
  return ticks ? std::atol(ticks) : 0;
}

struct TypedPassword {
  std::string password;
  std::string confirmation;
};

// At a terminal the password is typed twice, as in the dialog; piped in, it is given once.
std::optional<TypedPassword> ReadPassword() {
  const auto password = ReadInputLine(GetLangStr("6") + " ", true);
  if (!password) return std::nullopt;
  if (!InputIsTerminal()) return TypedPassword{*password, *password};
  const auto confirmation = ReadInputLine(GetLangStr("7") + " ", true);
  if (!confirmation) return std::nullopt;
  return TypedPassword{*password, *confirmation};
}

int Registered(const std::string& name, const std::string& password, const std::string& message) {
  if (!StoreAccount(name, password)) {
    Say("the name is registered, but the settings file " + SettingsFile() + " cannot be written");
    return kExitSettings;
  }
  std::printf("%s\n%s\n%s\n", GetLangStr("21", name).c_str(), GetLangStr("22", message).c_str(),
              GetLangStr("23").c_str());
  return kExitDone;
}

// The service's words reach the user's terminal: a control byte in them (an escape sequence that
// could rewrite the screen or the window title) is shown as \xHH instead.
std::string ControlBytesEscaped(const std::string& text) {
  std::string shown;
  for (const unsigned char c : text) {
    if (c >= 0x20 && c != 0x7f) {
      shown += static_cast<char>(c);
      continue;
    }
    char escaped[5];
    std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
    shown += escaped;
  }
  return shown;
}

}  // namespace

int RunCommand(const RunChoices& choices) {
  SettingsLock lock;
  if (lock.Acquire() == SettingsLock::State::Taken) {
    Say("another Hostwarden program (the tray client or a daemon) already keeps the account of " + SettingsFile() +
        "; end it first");
    return kExitInUse;
  }
  if (!SettingsUsable()) return kExitSettings;
  if (!ReadStoredAccount()) return NoAccount();
  DaemonEvents events;
  DaemonKeeper keeper(events);
  keeper.DualStackForced = choices.dualStack;
  keeper.WatchAddressForced = choices.watchAddress;
  try {
    return keeper.Run(CyclePeriods(), TickLimit());
  } catch (const StopRequested&) {
    return kExitDone;  // told to stop in the middle of a request
  }
}

int RegisterCommand(const std::string& typedName) {
  const std::string name = TypedAccountName(typedName);
  if (name.empty()) {
    Say(GetLangStr("10"));
    return kExitUsage;
  }
  if (!SettingsUsable()) return kExitSettings;
  if (SettingsAccess settings; !settings.OpenSettings(true)) {
    Say("cannot write the settings file " + SettingsFile());
    return kExitSettings;
  }
  const auto typed = ReadPassword();
  if (!typed) {
    Say("no password was given");
    return kExitUsage;
  }
  const std::string& password = typed->password;
  if (password.size() > kMaxPasswordBytes) {
    Say("the password may be at most " + std::to_string(kMaxPasswordBytes) + " bytes long");
    return kExitUsage;
  }
  if (const std::string failed = FailedRegistrationCheck(name, password, typed->confirmation); !failed.empty()) {
    Say(GetLangStr(failed));
    return kExitUsage;
  }
  const std::string machineId = GetMachineId();
  if (machineId.empty()) {
    Say(GetLangStr("28"));
    return kExitNoIdentity;
  }
  HttpClient http;
  const RegistrationReply reply = SendRegistration(http, name, password, machineId);
  switch (reply.kind) {
    case RegistrationReply::Kind::Registered: return Registered(name, password, reply.text);
    case RegistrationReply::Kind::Taken: Say(GetLangStr("27", name)); return kExitRefused;
    case RegistrationReply::Kind::Failed: Say("ERROR: " + reply.text); return kExitUnreachable;
    case RegistrationReply::Kind::Other: break;
  }
  Say("the service gave no usable reply");
  return kExitUnreachable;
}

int ReleaseCommand(bool confirmed) {
  if (!SettingsUsable()) return kExitSettings;
  const auto account = ReadStoredAccount();
  if (!account) return NoAccount();
  if (!confirmed) {
    if (!InputIsTerminal()) {
      Say("release asks for confirmation: add --yes when no one answers at a terminal");
      return kExitUsage;
    }
    std::fprintf(stderr, "%s\n", GetLangStr("15").c_str());
    const auto answer = ReadInputLine("Release " + account->name + build::kDomainSuffix + "? [y/N] ", false);
    if (!answer || (*answer != "y" && *answer != "Y" && *answer != "yes")) {
      Say("nothing was released");
      return kExitDone;
    }
  }
  DaemonEvents events;
  DaemonKeeper keeper(events);
  try {
    // The service must answer before anything is deleted here.
    ServerNow = keeper.CheckDate();
  } catch (const AppError&) {
    Say("the service cannot be reached; nothing was released");
    return kExitUnreachable;
  }
  try {
    return keeper.Release();
  } catch (const StopRequested&) {
    return kExitStopped;
  }
}

int SetCommand(const std::string& choice, const std::string& value) {
  // The settings' names of the choices, as the tray client reads them too.
  const std::map<std::string, std::string> names = {{"dual-stack", "DualStack"}, {"watch-address", "WatchAddress"}};
  const auto name = names.find(choice);
  if (name == names.end() || (value != "on" && value != "off")) {
    Say("set takes dual-stack or watch-address, then on or off");
    return kExitUsage;
  }
  if (!SettingsUsable()) return kExitSettings;
  SettingsAccess settings;
  if (!settings.OpenSettings(true)) {
    Say("cannot write the settings file " + SettingsFile());
    return kExitSettings;
  }
  settings.WriteFlag(name->second, value == "on");
  std::printf("%s is %s; a running daemon takes it at its next tick or when reloaded\n", choice.c_str(),
              value.c_str());
  return kExitDone;
}

int StatusCommand() {
  if (!SettingsUsable()) return kExitSettings;
  const auto account = ReadStoredAccount();
  if (!account) {
    std::printf("Account: none\n");
    return NoAccount();
  }
  const std::string& name = account->name;
  const std::string machineId = GetMachineId();
  std::printf("Account: %s\nHost name: %s%s\nMachine id: %s\n", name.c_str(), name.c_str(), build::kDomainSuffix,
              machineId.empty() ? "none" : machineId.c_str());
  const auto onOff = [](bool on) { return on ? "on" : "off"; };
  std::printf("Both address families: %s\nAddress watch: %s\n", onOff(DualStackWanted()), onOff(WatchAddressWanted()));
  if (const auto last = ReadLastReply()) {
    std::printf("Last reply: %s\nReplied at: %s (service clock)\n", ControlBytesEscaped(last->line).c_str(),
                ControlBytesEscaped(last->when).c_str());
  } else {
    std::printf("Last reply: none yet\n");
  }
  return kExitDone;
}

}  // namespace hw
