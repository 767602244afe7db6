#include "platform/FileErrors.h"

#include <cerrno>

namespace hw {

std::string FileErrorText(int errnoValue) {
  switch (errnoValue) {
    case ENOENT: return "File not found";
    case ENOTDIR:
    case ENAMETOOLONG:
    case EINVAL: return "Invalid filename";
    case EMFILE:
    case ENFILE: return "Too many open files";
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY: return "File access denied";
    case ENOSPC:
    case EDQUOT: return "Disk full";
    default: return "I/O error " + std::to_string(errnoValue);
  }
}

}  // namespace hw
