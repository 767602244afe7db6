#pragma once
#include <optional>
#include <string>

#include "update/Version.h"

namespace hw {

// The bytes of a downloaded build, read through one descriptor that refuses a symbolic link and
// never waits (a FIFO or device in its place is refused, not read), bounded by the largest build.
// Nothing when it is no regular file or cannot be read; `problem` says why.
std::optional<std::string> ReadBuildFile(const std::string& path, std::string& problem);

// The payload of the downloaded build at `path` when it is one that may replace a program of
// version `installed`: readable as above and verified by VerifyBuild with the trusted key.
std::optional<std::string> CheckBuildFile(const std::string& path, const VersionWords& installed,
                                          std::string& refusal);

// Removes whatever lies at `path`: a file, a link (not its target) or an empty folder.
void RemoveBuildFile(const std::string& path);

}  // namespace hw
