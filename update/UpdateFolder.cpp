#include "update/UpdateFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hw {

FolderAccess UpdateFolderAccess(const std::string& folder) {
  struct stat status {};
  if (::stat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) return FolderAccess::NotWritable;
  // The effective user, as the replacing rename will be checked; a read-only mount says no as well.
  if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) return FolderAccess::NotWritable;
  // Writable by us but owned by someone else (root in a user's folder): its owner is one more writer.
  if ((status.st_mode & (S_IWGRP | S_IWOTH)) || status.st_uid != ::geteuid()) return FolderAccess::WritableByOthers;
  return FolderAccess::OwnAndWritable;
}

}  // namespace hw
