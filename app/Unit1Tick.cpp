// The update cycle: every ten minutes the account's host name is refreshed, the closing schedule
// followed and a newer build taken up.
#include <malloc.h>
#include <unistd.h>

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
#include "update/Download.h"
#include "update/UpdateFiles.h"
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
  if (!CheckVersion().empty()) return HandOffUpdate();
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

void TForm1::HandOffUpdate() {
  if (::access(kUpdateFile, F_OK) == 0) return;  // a build waits already; the updater decides on it
  // The reply is appended unchanged, line end and all: the service names its builds that way.
  const std::string url = ServiceUrl(Endpoint::Download) + CheckVersion();
  DownloadToFile(url, kUpdateFile, ProgramFileName());
  StartDetached(std::string("./") + kLoaderFile, ".");  // a missing updater is not reported
  RequestProgramExit();
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
