#include "update/UpdateFiles.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>

namespace hw {

void PromoteLoader() {
  if (::access(kLoaderReplacement, F_OK) != 0) return;
  ::unlink(kLoaderFile);
  if (::renameat2(AT_FDCWD, kLoaderReplacement, AT_FDCWD, kLoaderFile, RENAME_NOREPLACE) == 0) return;
  // A file system without the no-replace rename: a new link fails just the same when the name is taken.
  if ((errno == EINVAL || errno == ENOSYS) && ::link(kLoaderReplacement, kLoaderFile) == 0)
    ::unlink(kLoaderReplacement);
}

}  // namespace hw
