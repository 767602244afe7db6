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
// Writes each reply's record over the last one, through a descriptor kept from the first save on;
// a failure is said on standard error, and the next save opens the file again.
class LastReplyWriter {
 public:
  LastReplyWriter() = default;
  ~LastReplyWriter();
  LastReplyWriter(const LastReplyWriter&) = delete;
  LastReplyWriter& operator=(const LastReplyWriter&) = delete;
  void Save(const LastReply& reply);

 private:
  int fd_ = -1;
};
// Nothing when there is none yet; a file that is not a record LastReplyWriter writes is refused.
std::optional<LastReply> ReadLastReply();

}  // namespace hw
