#include "loader/Updater.h"

#include <unistd.h>

#include <chrono>
#include <thread>

#include "common/AppError.h"
#include "platform/DetachedProcess.h"
#include "platform/SingleInstance.h"
#include "platform/TestSwitches.h"
#include "update/BuildFile.h"
#include "update/ReplaceFile.h"
#include "update/SignedBuild.h"
#include "update/UpdateFiles.h"
#include "update/UpdateFolder.h"

namespace hw {
namespace {

// The client's guard, taken as soon as the client has let it go; false when the wait ran out.
bool WaitForClientEnd(SingleInstanceLock& guard, int waitMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  bool told = false;
  while (!guard.Acquire(DefaultLockPath("Hostwarden"), DefaultGuardSocketName("Hostwarden"))) {
    if (!told) TestTraceLine("waiting for the client to end");
    told = true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

std::string InstallUpdate() {
  if (UpdateFolderAccess(".") == FolderAccess::WritableByOthers)
    return "refused to work in a program folder that others may write";
  const VersionWords installed = FileVersionOf(kClientFile).value_or(VersionWords{});
  std::string refusal;
  const auto payload = CheckBuildFile(kUpdateFile, installed, refusal);
  if (!payload) return "refused " + std::string(kUpdateFile) + ": " + refusal;
  try {
    ReplaceFileAtomically(kClientFile, *payload);
  } catch (const FileError& error) {
    return "could not replace " + std::string(kClientFile) + ": " + error.Message();
  }
  return "replaced " + std::string(kClientFile) + " with version " +
         VersionText(FileVersionOf(kClientFile).value_or(VersionWords{}));
}

}  // namespace

std::string RunUpdater(int waitMs) {
  SingleInstanceLock clientGuard;
  const bool clientEnded = WaitForClientEnd(clientGuard, waitMs);
  std::string outcome = InstallUpdate();
  RemoveBuildFile(kUpdateFile);
  if (!clientEnded) outcome += " (the client had not ended)";
  clientGuard.Release();  // before the client starts, or it would find itself already running
  if (!StartDetached(std::string("./") + kClientFile, ".")) outcome += "; the client could not be started";
  return outcome;
}

}  // namespace hw
