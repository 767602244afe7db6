#pragma once

namespace hw {

// The lang.ini text that tells the user of an installed copy how a new version comes: "34" ("sudo
// apt upgrade") when the package manager takes this project's packages from their own repository
// (the source that the repository's package installs is there), else "29".
const char* PackageManagerUpdateTextId();

}  // namespace hw
