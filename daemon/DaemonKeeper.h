#pragma once
#include <chrono>
#include <string>

#include "core/AccountKeeper.h"
#include "daemon/DaemonEvents.h"
#include "daemon/LastReply.h"
#include "update/VersionsPassedOver.h"

namespace hw {

// The account keeper without a desktop: log lines go to standard error (the journal under systemd),
// notices become log lines, a newer version is said once, and the daemon's own loop keeps the
// ten-minute rhythm, the start-up retry and the signals.
class DaemonKeeper : public AccountKeeper {
 public:
  struct Periods {
    std::chrono::milliseconds tick{600000};
    std::chrono::milliseconds startupRetry{60000};
  };

  explicit DaemonKeeper(DaemonEvents& events);
  ~DaemonKeeper() override;

  // The start-up, then the cycle until a stop (kExitDone) or until the account is gone.
  int Run(const Periods& periods, long tickLimit);

  // "release": the stored account is deleted, then the service told (the main window's order).
  int Release();

  void AddLogLine(const std::string& line) override;
  bool HandOffUpdate(const std::string& offered) override;

 protected:
  void AccountLoaded(bool registered) override { registered_ = registered; }
  void ShowCountdownNotice(const std::string& text) override;
  void ShowClosedNotice(const std::string& text) override { (void)text; }  // its log line says it
  void ShowUpdatedAddress(const std::string& hostName, const std::string& address) override;
  void EnterUnregisteredState() override { registered_ = false; }
  void QueryAnswered(const std::string& line) override;

 private:
  // Reads the clock until it answers; false when told to stop meanwhile.
  bool WaitForClock(std::chrono::milliseconds retry);
  // Reads the stored account into memory; false when none is registered.
  bool ReadAccount();
  // The account as the settings hold it now (SIGHUP), then a check at once.
  void ReloadAccount();
  void RunTick();
  std::vector<int> WatchDescriptors() const;
  // Runs one of the keeper's steps; a failure is logged, the next tick tries again.
  template <typename Step>
  void Logged(Step step);
  int AccountGone();

  DaemonEvents& events_;
  LastReplyWriter lastReply_;
  bool registered_ = false;
  VersionsPassedOver offered_;
};

}  // namespace hw
