#pragma once
#include <string>

namespace hw {

// One running copy per logon: an exclusive advisory lock on a file in the user's runtime folder.
// When that file cannot be made (no path, the folder missing or read-only, a folder in its place), a
// Unix socket in the abstract namespace, named for the user, guards instead; it needs no file at
// all. A socket of that name held by another user does not count (its holder's credentials are
// asked): the next of a few names is tried.
// The kernel drops either guard when the process ends, so a crashed copy never blocks the next start.
class SingleInstanceLock {
 public:
  SingleInstanceLock() = default;
  ~SingleInstanceLock();
  SingleInstanceLock(const SingleInstanceLock&) = delete;
  SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

  // True when this process now holds the guard, or when neither guard can be had at all (then the
  // program runs unguarded rather than not at all, and says why on standard error); false when
  // another copy holds it.
  bool Acquire(const std::string& lockPath, const std::string& socketName);
  void Release();

 private:
  bool AcquireSocket(const std::string& socketName);

  int fd_ = -1;  // the locked file, or the bound socket
};

// $XDG_RUNTIME_DIR/<name>.lock; without a runtime folder <tmp>/<name>-<uid>/<name>.lock, <tmp> being
// $TMPDIR or /tmp, in a folder made 0700 and used only when this user owns it and nobody else may
// enter it; the empty text when there is no such folder (then the socket guards).
std::string DefaultLockPath(const std::string& name);
// <name>-<uid>: the fallback guard's socket name, one per user.
std::string DefaultGuardSocketName(const std::string& name);

}  // namespace hw
