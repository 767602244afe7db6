#pragma once
#include <string>

namespace hw {

// One running copy per logon: an exclusive advisory lock on a file in the user's runtime folder.
// The kernel drops the lock when the process ends, so a crashed copy never blocks the next start.
class SingleInstanceLock {
 public:
  SingleInstanceLock() = default;
  ~SingleInstanceLock();
  SingleInstanceLock(const SingleInstanceLock&) = delete;
  SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

  // True when this process now holds the lock; false when another copy holds it.
  bool Acquire(const std::string& lockPath);
  void Release();

 private:
  int fd_ = -1;
};

// $XDG_RUNTIME_DIR/<name>.lock, or /tmp/<name>-<uid>.lock when there is no runtime folder.
std::string DefaultLockPath(const std::string& name);

}  // namespace hw
