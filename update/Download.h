#pragma once
#include <cstddef>
#include <string>

namespace hw {

// What one download may cost. A build is a few megabytes; past these bounds the transfer stops as a
// dropped connection would, so the program never waits on a download for ever.
struct DownloadLimits {
  std::size_t maxBytes = 88 + 64 * 1024 * 1024;  // the largest signed build
  long stallSeconds = 60;  // a minute without data
  long connectSeconds = 60;
  long overallSeconds = 600;  // the whole transfer, redirects included, however slowly data comes
  int maxRedirects = 5;
};

// Fetches the address into the file, created or truncated, as the system's web access does it: the
// environment's proxy settings, `agent` as the agent name, and the body saved whatever the status.
// Redirects are followed only on the address's own scheme and host (http or https); one elsewhere
// ends the transfer. Data is written in chunks of at most 1024 bytes as it arrives. A transfer
// that fails or stops keeps what came and ends quietly; only the file's own errors are raised, as
// FileError with the runtime's text ("Disk full" for a write that stored less than it was given).
bool DownloadToFile(const std::string& url, const std::string& fileName, const std::string& agent,
                    const DownloadLimits& limits = {});

}  // namespace hw
