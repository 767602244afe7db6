#pragma once
#include <optional>
#include <string>

namespace hw {

// The daemon's last reply from the service, kept beside the settings file for "status": the time by
// the service's clock and the logged line. A small file of its own, so the settings stay exactly
// what the tray client stores.
struct LastReply {
  std::string when;  // "yyyy-mm-dd hh:mm:ss", service clock
  std::string line;
};

std::string LastReplyFile();
// Writes the record over the last one; a failure is said on standard error.
void SaveLastReply(const LastReply& reply);
// Nothing when there is none yet; a file that is not a record SaveLastReply writes is refused.
std::optional<LastReply> ReadLastReply();

}  // namespace hw
