#pragma once
#include <functional>
#include <optional>
#include <string>

namespace hw {

// The kernel's reports of address and route changes (rtnetlink), as a descriptor to wait on.
// Only what can change the address the service sees counts: global addresses that are neither
// temporary (IPv6 privacy addresses come and go by the hour) nor still being checked for
// duplicates, and default routes of the main table.
class NetworkChanges {
 public:
  // Throws AppError with the system's text when the kernel cannot be asked.
  NetworkChanges();
  ~NetworkChanges();
  NetworkChanges(const NetworkChanges&) = delete;
  NetworkChanges& operator=(const NetworkChanges&) = delete;

  // Readable when the kernel has reported something.
  int Descriptor() const { return fd_; }
  // Reads what is pending, without waiting; true when some of it counts. A report the socket had
  // to drop (too many at once) counts, as anything may have changed. `describe`, when given, is
  // told of every address report, counted or not ("counts: new address 2001:db8::1").
  bool TakeChanges(const std::function<void(const std::string&)>& describe = {});

 private:
  int fd_ = -1;
};

// The global addresses and default routes as they stand, one line each, sorted: two readings are
// equal when nothing that counts has changed. Bounded in size, count and time; nothing when the
// kernel cannot be asked or the answer is past the bounds.
std::optional<std::string> NetworkState();

}  // namespace hw
