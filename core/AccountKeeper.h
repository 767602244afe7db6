#pragma once
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/AddressWatch.h"
#include "ddns/AddressFamilies.h"
#include "ddns/DomainQuery.h"
#include "ddns/HttpClient.h"
#include "ddns/ServiceEndpoints.h"
#include "lifetime/DateTime.h"

namespace hw {

// The account's side of the program, without any window: the service's clock, the start-up's
// service steps, the ten-minute cycle, the query with its reply handling and the closing schedule.
// A front end (the tray client's main window, the daemon) derives from it and says, through the
// hooks below, how each outcome is shown. While a request waits, the `whileWaiting` pump given at
// construction runs: the tray client processes its window messages there, the daemon its signals.
class AccountKeeper {
 public:
  static constexpr std::int64_t kNoticePeriodTicks = 144;  // a day of ticks

  explicit AccountKeeper(Pump whileWaiting);
  virtual ~AccountKeeper();
  AccountKeeper(const AccountKeeper&) = delete;
  AccountKeeper& operator=(const AccountKeeper&) = delete;

  // Activity log: the caller builds the whole line.
  virtual void AddLogLine(const std::string& line) = 0;
  // The last reading of the server clock as "[dddd hh:mm]".
  std::string LogStamp() const;
  // The stamped log line of a request that failed: stamp, " ERROR: ", the message, then `mark`.
  void LogError(const std::exception& error, const std::string& mark = {});
  std::string GetLangStr(const std::string& messageId, const std::string& param = {}) const;

  // One reading of the service's clock; a transport failure is logged, then the empty reply fails.
  DateTime CheckDate();
  // One exchange for the in-memory account: kind "check" refreshes the host name, "del" releases it.
  // What the reply's marker asked for, or nothing when no marker came (a failure is logged).
  std::optional<ReplyAction> SendQuery(const std::string& machineId, const std::string& kind);
  // The countdown line after a query, when the query found reminders wanted.
  void AddCountdownLine(bool remindWanted);
  // The countdown notice, when reminders are wanted.
  void showclose();
  // The start-up's presentation of a closed service: notice text, log line.
  void ShowServiceClosed();
  // The service's current client version: its whole reply when it is newer than this program's
  // own, else empty (also when the request failed, which is logged).
  std::string CheckVersion();
  // Takes up the build that `offered` (CheckVersion's text) names; true when the program now ends.
  virtual bool HandOffUpdate(const std::string& offered) = 0;

  std::unique_ptr<HttpClient> http;
  std::string MachineId;
  std::string UserName;
  std::string Password;
  std::int64_t NoticeTicks = 0;
  // A check over each address family, and the watch on the network, even when the settings do not
  // ask for them (the daemon's options).
  bool DualStackForced = false;
  bool WatchAddressForced = false;
  // The watch on the machine's network while the choices ask for it, else null.
  AddressWatch* Watch() const { return addressWatch_.get(); }

 protected:
  // The start-up past the clock, first step: this machine's identity; false when it has none.
  bool IdentifyMachine();
  // The stored account: read into memory, the closing test, the first notice and the first query.
  // Without an account nothing is sent (the registration offer handles a first start).
  void LoadAccountAndStart();
  // One tick of the cycle: clock, closing test, daily notice, version check, then the query and the
  // tidying, or the hand-over to the updater. A failure the tick cannot log is thrown.
  void Tick();

  // The extra check after the machine's network changed: the clock, then the check, unless the
  // service has closed (the next tick says so). A failure the check cannot log is thrown.
  void CheckAfterNetworkChange();
  // Starts or ends the watch on the network as the choices now say (after the start-up's check and
  // after every tick); a watch that cannot start is logged once and tried again later.
  void UpdateAddressWatch();
  // A wake-up for the watch: the kernel's reports taken when `reported`, and the extra check run
  // when it is due. A failure the check cannot log is thrown.
  void AttendAddressWatch(bool reported);
  // The watch started or ended: a front end that waits on its descriptors takes the new ones.
  virtual void AddressWatchChanged() {}

  // What the front end shows of each outcome.
  virtual void AccountLoaded(bool registered) = 0;
  virtual void ShowCountdownNotice(const std::string& text) = 0;
  virtual void ShowClosedNotice(const std::string& text) = 0;
  virtual void ShowUpdatedAddress(const std::string& hostName, const std::string& address) = 0;
  virtual void EnterUnregisteredState() = 0;
  // A reply of the service was logged as `line` (after the outcome's own hook).
  virtual void QueryAnswered(const std::string& line) { (void)line; }
  // After a tick's query: the front end's own tidying.
  virtual void TidyAfterTick() {}

 private:
  // The families one query of `kind` goes over, in order.
  std::vector<AddressFamily> QueryFamilies(const std::string& kind) const;
  std::optional<ReplyAction> PostQuery(Endpoint endpoint, const std::string& machineId, AddressFamily family);
  std::optional<ReplyAction> ApplyReply(const std::string& reply, const std::string& familyMark);

  std::unique_ptr<AddressWatch> addressWatch_;
  bool addressWatchFailed_ = false;  // said once until it starts
};

// Writes a log line to standard error, whole (also past a NUL byte): the journal of either program.
void WriteJournalLine(const std::string& line);

// The version a reply of CheckVersion names, as "a.b.c.d".
std::string OfferedVersion(const std::string& offered);

}  // namespace hw
