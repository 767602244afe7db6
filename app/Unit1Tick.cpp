// The update cycle on the desktop: its timer and error boxes, its tidying, and a newer build taken up
// through the updater.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>

#include "app/Unit1.h"
#include "common/AppError.h"
#include "ddns/ServiceEndpoints.h"
#include "platform/DetachedProcess.h"
#include "platform/ProgramFolder.h"
#include "shell/ErrorDisplay.h"
#include "shell/HandlerWiring.h"
#include "shell/ProgramExit.h"
#include "shell/TestBuild.h"
#include "update/BuildFile.h"
#include "update/Download.h"
#include "update/TrustedKey.h"
#include "update/UpdateFiles.h"
#include "update/PackageSource.h"
#include "update/UpdateFolder.h"
#include "update/Version.h"

namespace hw {
namespace {

// Raises a flag of the window for as long as it lives: a handler nested in this one's wait sees it.
struct RaisedFlag {
  bool& flag;
  explicit RaisedFlag(bool& raised) : flag(raised) { flag = true; }
  ~RaisedFlag() { flag = false; }
  RaisedFlag(const RaisedFlag&) = delete;
  RaisedFlag& operator=(const RaisedFlag&) = delete;
};

}  // namespace

void TForm1::Timer1Timer() {
  RunCycleStep([this] { Tick(); });
}

template <typename Step>
void TForm1::RunCycleStep(Step step) {
  try {
    step();
  } catch (const std::exception& error) {
    // Offline for days, every tick fails: one box at a time, or the boxes would pile up by the
    // hundred, each in the event loop of the one before, until the stack gave out. The failing
    // tick has written its log line all the same.
    if (cycleBoxOpen_) return;
    const RaisedFlag open(cycleBoxOpen_);
    ShowErrorBox(MessageOf(error));
  }
}

void TForm1::AttendWatch(bool reported) {
  RunCycleStep([this, reported] { AttendAddressWatch(reported); });
  ArmWatchTimer();
}

void TForm1::AddressWatchChanged() {
  for (QSocketNotifier* notifier : watchNotifiers_) notifier->deleteLater();
  watchNotifiers_.clear();
  if (Watch()) {
    for (const int descriptor : Watch()->Descriptors()) {
      auto* notifier = new QSocketNotifier(descriptor, QSocketNotifier::Read, this);
      WireHandler(notifier, &QSocketNotifier::activated, this, [this] { AttendWatch(true); });
      watchNotifiers_.push_back(notifier);
    }
  }
  ArmWatchTimer();
}

void TForm1::ArmWatchTimer() {
  const auto due = Watch() ? Watch()->NextDue() : std::nullopt;
  if (!due) return WatchTimer->stop();
  const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*due - AddressWatch::Clock::now());
  WatchTimer->start(static_cast<int>(std::max<std::int64_t>(0, wait.count())));
}

void TForm1::TidyAfterTick() {
  PromoteLoader();
  ListBox1->ScrollToNewest(kLinesInView);
  TrimLog();
}

bool TForm1::HandOffUpdate(const std::string& offered) {
  if (handingOff_) return false;  // a tick that runs inside this one's wait
  const std::string version = OfferedVersion(offered);
  if (passedOver_.Contains(version) || !MayUpdateHere(version)) return false;
  if (UpdateFileWaits()) {
    // A build fetched before, whose updater did not start: handed over now. Anything else there is
    // the rest of a download that did not end, or not ours to keep.
    std::string refusal;
    if (CheckBuildFile(kUpdateFile, GetOwnVersion(), refusal)) return StartUpdater();
    RemoveBuildFile(kUpdateFile);
  }
  const RaisedFlag busy(handingOff_);
  // The reply is appended unchanged, line end and all: the service names its builds that way.
  const std::string url = ServiceUrl(Endpoint::Download) + CheckVersion();
  bool complete = false;
  try {
    complete = DownloadToFile(url, kUpdateFile, ProgramFileName());
  } catch (const FileError&) {
    RemoveBuildFile(kUpdateFile);  // half a build helps nobody, and would block every later one
    passedOver_.Add(version);      // one box for it a run
    throw;
  }
  if (!complete) {  // the network's doing, not the build's: the next tick tries again
    RemoveBuildFile(kUpdateFile);
    std::fprintf(stderr, "Hostwarden: the download of version %s did not complete\n", version.c_str());
    return false;
  }
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
  return StartUpdater();
}

bool TForm1::StartUpdater() {
  TraceLine("starting the updater");
  // Without an updater the program would end for good: it stays, and the next tick tries again.
  if (!StartDetached(std::string("./") + kLoaderFile, ".")) {
    std::fprintf(stderr, "Hostwarden: the updater %s could not be started\n", kLoaderFile);
    return false;
  }
  RequestProgramExit();
  return true;
}

bool TForm1::MayUpdateHere(const std::string& version) {
  const char* why = nullptr;
  switch (UpdateFolderAccess(".")) {
    // Installed: the package manager's to update, by "sudo apt upgrade" once the repository is a source.
    case FolderAccess::NotWritable: why = PackageManagerUpdateTextId(); break;
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

void TForm1::TrimLog() {
  if (ListBox1->count() > kLogLimit) ListBox1->RemoveOldest();  // one line a tick, never more
}

}  // namespace hw
