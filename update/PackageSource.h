#pragma once

namespace hw {

// Whether the package manager takes this project's packages from their own repository: the source
// that the repository's package installs is there, so "sudo apt upgrade" brings a new version.
bool RepositoryConfigured();

}  // namespace hw
