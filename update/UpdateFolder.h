#pragma once
#include <string>

namespace hw {

// Whether a program may update itself in its folder. Only its owner may write there: in a folder
// that others can write, any of them could put a program of their own in the client's place.
enum class FolderAccess {
  OwnAndWritable,    // self-update may go ahead
  NotWritable,       // installed by the system (the package manager updates it), or read-only
  WritableByOthers,  // group, others or another owner may write too: never updated from here
};

// Asks the system, for the running user, rather than guessing from the path.
FolderAccess UpdateFolderAccess(const std::string& folder);

}  // namespace hw
