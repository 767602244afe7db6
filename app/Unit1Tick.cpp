// The update cycle: every ten minutes the account's host name is refreshed, the closing schedule
// followed and a newer build taken up.
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "app/Unit1.h"
#include "common/AppError.h"
#include "ddns/ServiceEndpoints.h"
#include "lifetime/ClosingSchedule.h"
#include "lifetime/ServerClock.h"
#include "platform/DetachedProcess.h"
#include "platform/ProgramFolder.h"
#include "platform/UserLanguage.h"
#include "shell/ErrorDisplay.h"
#include "shell/ProgramExit.h"
#include "shell/TestBuild.h"
#include "update/BuildFile.h"
#include "update/Download.h"
#include "update/TrustedKey.h"
#include "update/UpdateFiles.h"
#include "update/UpdateFolder.h"
#include "update/Version.h"

namespace hw {
namespace {

// The service's version replies are read by their first seven characters ("1.3.0.1").
constexpr std::size_t kVersionTextLength = 7;

}  // namespace

void TForm1::Timer1Timer() {
  try {
    Tick();
  } catch (const std::exception& error) {
    // Offline for days, every tick fails: one box at a time, or the boxes would pile up by the
    // hundred, each in the event loop of the one before, until the stack gave out. The failing
    // tick has written its log line all the same.
    if (cycleBoxOpen_) return;
    cycleBoxOpen_ = true;
    struct Closed {
      bool& open;
      ~Closed() { open = false; }
    } closed{cycleBoxOpen_};
    ShowErrorBox(MessageOf(error));
  }
}

void TForm1::Tick() {
  ServerNow = CheckDate();
  // Only a second reading decides; it is not kept.
  if (IsServiceClosed(CheckDate())) {
    AddLogLine(LogStamp() + ClosedLogLine(UserDefaultLangId()));
    return;
  }
  if (NoticeTicks >= kNoticePeriodTicks) {
    showclose();
    NoticeTicks = 0;
  }
  ++NoticeTicks;
  // A newer build never holds back the check: unless the program ends for the updater, the tick goes on.
  const std::string offered = CheckVersion();
  if (!offered.empty() && HandOffUpdate(offered)) return;
  if (UserName.size() > 2 && Password.size() > 5) SendQuery(MachineId, "check");
  PromoteLoader();
  ScrollLogToNewest();
  TrimLog();
  ::malloc_trim(0);  // hands freed memory back to the system, as a tray program at rest should
}

std::string TForm1::CheckVersion() {
  std::string reply;
  try {
    reply = HttpGet(*http, ServiceUrl(Endpoint::Version));
  } catch (const TransportError& error) {
    LogError(error);
  }
  const std::string head = reply.substr(0, kVersionTextLength);
  if (head.empty()) return {};
  const VersionWords offered = ParseVersion(head);
  return IsNewerVersion(GetOwnVersion(), offered) ? reply : std::string();
}

bool TForm1::HandOffUpdate(const std::string& offered) {
  // A build waits already (the updater decides on it), or a tick that runs inside this one's wait.
  if (handingOff_ || UpdateFileWaits()) return false;
  const std::string version = VersionText(ParseVersion(offered.substr(0, kVersionTextLength)));
  if (passedOver_.Contains(version) || !MayUpdateHere(version)) return false;
  const struct Busy {
    bool& flag;
    explicit Busy(bool& f) : flag(f) { flag = true; }
    ~Busy() { flag = false; }
  } busy(handingOff_);
  // The reply is appended unchanged, line end and all: the service names its builds that way.
  const std::string url = ServiceUrl(Endpoint::Download) + CheckVersion();
  DownloadToFile(url, kUpdateFile, ProgramFileName());
  // Checked here as the updater will check it: a build it would refuse must not end the program,
  // or the client would go and come back every ten minutes.
  std::string refusal;
  if (!CheckBuildFile(kUpdateFile, GetOwnVersion(), refusal)) {
    RemoveBuildFile(kUpdateFile);
    passedOver_.Add(version);
    std::fprintf(stderr, "Hostwarden: the build of version %s was refused: %s\n", version.c_str(), refusal.c_str());
    AddLogLine(LogStamp() + " " + GetLangStr("30", version));
    return false;
  }
  TraceLine("starting the updater");
  StartDetached(std::string("./") + kLoaderFile, ".");  // a missing updater is not reported
  RequestProgramExit();
  return true;
}

bool TForm1::MayUpdateHere(const std::string& version) {
  const char* why = nullptr;
  switch (UpdateFolderAccess(".")) {
    case FolderAccess::NotWritable: why = "29"; break;  // installed: the package manager's to update
    case FolderAccess::WritableByOthers: why = "31"; break;
    case FolderAccess::OwnAndWritable: break;
  }
  if (why) {
    AddLogLine(LogStamp() + " " + GetLangStr(why, version));
  } else if (TrustedUpdateKey().empty()) {
    std::fprintf(stderr, "Hostwarden: version %s is offered, but this build trusts no update key\n", version.c_str());
  } else {
    return true;
  }
  passedOver_.Add(version);  // said once a run
  return false;
}

bool TForm1::UpdateFileWaits() {
  struct stat status {};
  return ::lstat(kUpdateFile, &status) == 0;  // whatever it is, a link included
}

void TForm1::ScrollLogToNewest() {
  const int first = ListBox1->count() - kLinesInView;
  if (first < 0) return;
  ListBox1->scrollToItem(ListBox1->item(first), QAbstractItemView::PositionAtTop);
}

void TForm1::TrimLog() {
  if (ListBox1->count() > kLogLimit) delete ListBox1->takeItem(0);  // one line a tick, never more
}

}  // namespace hw
