#pragma once
#include <string>

namespace hw {

// The running copy's door for a second start: a Unix socket in the user's private folder, beside
// the single-instance lock. A second start connects and ends; the connection itself is the request
// to bring the main window to the screen (nothing is read from it, so a caller cannot make the
// running copy wait).
class ShowRequestListener {
 public:
  ShowRequestListener() = default;
  ~ShowRequestListener();
  ShowRequestListener(const ShowRequestListener&) = delete;
  ShowRequestListener& operator=(const ShowRequestListener&) = delete;

  // Listens at `path`, replacing what a copy that ended without tidying left there; only the holder
  // of the single-instance lock may call it. False (and nothing listens) when that fails.
  bool Listen(const std::string& path);
  // The descriptor to wait on for reading; -1 when not listening.
  int Descriptor() const { return fd_; }
  // Takes the connections that wait (at most a few per call); true when one of them came from a
  // process of this user.
  bool TakeRequests();

 private:
  int fd_ = -1;
  std::string path_;
};

// Asks the running copy listening at `path` to show its main window; false when nobody listens.
bool SendShowRequest(const std::string& path);

// The socket's path beside the lock file: "<folder>/<name>.show" for "<folder>/<name>.lock"; empty
// when there is no lock file (then a second start cannot ask, and ends as before).
std::string ShowRequestPath(const std::string& lockPath);

}  // namespace hw
