// Entry of hostwarden-daemon: the tray client's account keeping without a desktop.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "BuildConfig.h"
#include "common/AppError.h"
#include "core/TestBuildSwitches.h"
#include "daemon/Commands.h"
#include "daemon/ExitCodes.h"
#include "i18n/LangTable.h"
#include "platform/ProgramFolder.h"

namespace {

constexpr const char* kUsage =
    "Usage: hostwarden-daemon [run] [--dual-stack] [--watch-address]\n"
    "                                        keep this machine's host name up to date; the options\n"
    "                                        check over IPv4 and IPv6 each, and check again within\n"
    "                                        seconds of an address change (as the settings can)\n"
    "       hostwarden-daemon register NAME  claim NAME for this machine (password from the terminal\n"
    "                                        or, when it is not one, the first line of standard input)\n"
    "       hostwarden-daemon release [--yes] give the name up (asks first, unless --yes)\n"
    "       hostwarden-daemon status         account, host name, machine id and the last reply\n"
    "       hostwarden-daemon set dual-stack|watch-address on|off\n"
    "                                        keep the choice in the settings (default off)\n"
    "       hostwarden-daemon --help | --version\n"
    "Exit status: 0 done, 1 refused by the service, 2 usage, 3 no account, 4 service unreachable,\n"
    "5 settings not usable, 6 another Hostwarden program runs, 7 no network adapter, 8 lang.ini missing.\n";

int Usage(int status) {
  std::fputs(kUsage, status == hw::kExitDone ? stdout : stderr);
  return status;
}

int Dispatch(const std::vector<std::string>& args) {
  const std::string command = args.empty() ? "run" : args[0];
  if (command == "--help" || command == "-h") return Usage(hw::kExitDone);
  if (command == "--version") {
    std::printf("hostwarden-daemon %s\n", hw::build::kVersion);
    return hw::kExitDone;
  }
  if (!hw::LangFileExists()) {
    std::fprintf(stderr, "hostwarden-daemon: lang.ini is missing beside the program\n");
    return hw::kExitMissingFile;
  }
  if (command == "run" || command.starts_with("--")) {
    hw::RunChoices choices;
    for (std::size_t i = command == "run" ? 1 : 0; i < args.size(); ++i) {
      if (args[i] == "--dual-stack") choices.dualStack = true;
      else if (args[i] == "--watch-address") choices.watchAddress = true;
      else return Usage(hw::kExitUsage);
    }
    return hw::RunCommand(choices);
  }
  if (command == "set" && args.size() == 3) return hw::SetCommand(args[1], args[2]);
  if (command == "register" && args.size() == 2) return hw::RegisterCommand(args[1]);
  if (command == "release" && args.size() == 1) return hw::ReleaseCommand(false);
  if (command == "release" && args.size() == 2 && args[1] == "--yes") return hw::ReleaseCommand(true);
  if (command == "status" && args.size() == 1) return hw::StatusCommand();
  return Usage(hw::kExitUsage);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    hw::EnterProgramFolder();  // lang.ini lies beside the program
    hw::ApplyAccountTestSwitches();
    return Dispatch(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const hw::SettingsError& error) {
    std::fprintf(stderr, "hostwarden-daemon: %s\n", error.what());
    return hw::kExitSettings;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "hostwarden-daemon: %s\n", error.what());
    return hw::kExitRefused;
  }
}
