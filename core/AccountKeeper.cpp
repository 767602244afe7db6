#include "core/AccountKeeper.h"

#include <malloc.h>

#include <cstdio>

#include "BuildConfig.h"
#include "common/AppError.h"
#include "ddns/Base64.h"
#include "ddns/Envelope.h"
#include "ddns/HttpUrl.h"
#include "ddns/MachineIdentity.h"
#include "ddns/ServiceEndpoints.h"
#include "i18n/LangTable.h"
#include "lifetime/ClosingSchedule.h"
#include "lifetime/LogStamp.h"
#include "lifetime/ServerClock.h"
#include "platform/TestSwitches.h"
#include "platform/UserLanguage.h"
#include "settings/UserChoices.h"
#include "settings/SettingsStore.h"
#include "update/Version.h"

namespace hw {
namespace {

// The service's version replies are read by their first seven characters ("1.3.0.1").
constexpr std::size_t kVersionTextLength = 7;

// Free memory the heap may keep between ticks; trimming less would cost every tick the faults of
// taking the same pages back.
constexpr std::size_t kKeptFreeBytes = 256 * 1024;

// Hands freed memory back to the system, as a program at rest should, when there is some to give.
void TrimHeap() {
  if (::mallinfo2().fordblks > kKeptFreeBytes) ::malloc_trim(0);
}

}  // namespace

AccountKeeper::AccountKeeper(Pump whileWaiting) : http(std::make_unique<HttpClient>(std::move(whileWaiting))) {}

AccountKeeper::~AccountKeeper() = default;

std::string AccountKeeper::LogStamp() const { return FormatLogStamp(ServerNow); }

void AccountKeeper::LogError(const std::exception& error, const std::string& mark) {
  AddLogLine(LogStamp() + " ERROR: " + MessageOf(error) + mark);
}

std::string AccountKeeper::GetLangStr(const std::string& messageId, const std::string& param) const {
  return hw::GetLangStr(messageId, param);
}

DateTime AccountKeeper::CheckDate() {
  std::string reply;
  try {
    reply = HttpGet(*http, ServiceUrl(Endpoint::Clock));
  } catch (const TransportError& error) {
    LogError(error);  // the empty reply then fails the decoding
  }
  return DecodeClockReply(reply);
}

bool AccountKeeper::IdentifyMachine() {
  MachineId = GetMachineId();
  return !MachineId.empty();
}

void AccountKeeper::LoadAccountAndStart() {
  SettingsAccess settings;  // stays open until the first query has finished
  settings.OpenSettings(true);
  if (!settings.SettingExists("REG")) return;
  if (!settings.ReadFlag("REG")) return AccountLoaded(false);
  UserName = settings.ReadText("username");
  Password = DecodeBase64(settings.ReadText("password"));
  AccountLoaded(true);
  if (IsServiceClosed(CheckDate())) {
    ShowServiceClosed();
    return;
  }
  NoticeTicks = 0;
  showclose();
  SendQuery(MachineId, "check");
  UpdateAddressWatch();
}

void AccountKeeper::Tick() {
  ServerNow = CheckDate();
  // Only a second reading decides; it is not kept.
  if (IsServiceClosed(CheckDate())) {
    AddLogLine(LogStamp() + ClosedLogLine(UserDefaultLangId()));
    return;
  }
  if (NoticeTicks >= kNoticePeriodTicks) {
    showclose();
    NoticeTicks = 0;
  }
  ++NoticeTicks;
  // A newer build never holds back the check: unless the program ends for the updater, the tick goes
  // on, and a build that could not be saved shows its error once the check is done.
  const std::string offered = CheckVersion();
  std::exception_ptr updateError;
  try {
    if (!offered.empty() && HandOffUpdate(offered)) return;
  } catch (const FileError&) {
    updateError = std::current_exception();
  }
  if (UserName.size() > 2 && Password.size() > 5) SendQuery(MachineId, "check");
  UpdateAddressWatch();
  TidyAfterTick();
  TrimHeap();
  if (updateError) std::rethrow_exception(updateError);
}

void AccountKeeper::CheckAfterNetworkChange() {
  ServerNow = CheckDate();
  if (IsServiceClosed(ServerNow)) return;
  if (UserName.size() > 2 && Password.size() > 5) SendQuery(MachineId, "check");
}

void AccountKeeper::UpdateAddressWatch() {
  if (!WatchAddressForced && !WatchAddressWanted()) {
    if (!addressWatch_) return;
    addressWatch_.reset();
    return AddressWatchChanged();
  }
  if (addressWatch_) return;
  try {
    addressWatch_ = std::make_unique<AddressWatch>();
    addressWatchFailed_ = false;
    AddressWatchChanged();
  } catch (const AppError& error) {
    if (!addressWatchFailed_) LogError(error);
    addressWatchFailed_ = true;
  }
}

void AccountKeeper::AttendAddressWatch(bool reported) {
  if (!addressWatch_) return;
  const auto now = AddressWatch::Clock::now();
  if (reported) addressWatch_->TakeReports(now);
  if (!addressWatch_->Due(now)) return;
  CheckAfterNetworkChange();
  TestTraceLine("extra check done");
}

std::string AccountKeeper::CheckVersion() {
  std::string reply;
  try {
    reply = HttpGet(*http, ServiceUrl(Endpoint::Version));
  } catch (const TransportError& error) {
    LogError(error);
  }
  const std::string head = reply.substr(0, kVersionTextLength);
  if (head.empty()) return {};
  const VersionWords offered = ParseVersion(head);
  return IsNewerVersion(GetOwnVersion(), offered) ? reply : std::string();
}

std::optional<ReplyAction> AccountKeeper::SendQuery(const std::string& machineId, const std::string& kind) {
  const bool remindWanted = RemindWanted();  // read before anything is sent
  const auto endpoint = QueryEndpoint(kind);
  if (!endpoint) throw AppError("Unknown query kind '" + kind + "'");
  std::optional<ReplyAction> action;
  for (const AddressFamily family : QueryFamilies(kind)) {
    const auto answered = PostQuery(*endpoint, machineId, family);
    if (!action || answered == ReplyAction::Unregistered) action = answered;
    if (answered == ReplyAction::Unregistered) break;  // no account left to check over the other family
  }
  if (addressWatch_ && kind == "check") addressWatch_->Published();
  AddCountdownLine(remindWanted);
  return action;
}

std::vector<AddressFamily> AccountKeeper::QueryFamilies(const std::string& kind) const {
  // A release or a registration goes once: the service keeps or drops both records together.
  if (kind != "check" || !(DualStackForced || DualStackWanted())) return {AddressFamily::Either};
  const HttpTarget service = ParseHttpUrl(ServiceHost());
  std::vector<AddressFamily> families = FamiliesToReach(service.host, service.port);
  if (families.empty()) families.push_back(AddressFamily::Either);  // then the failure says why
  return families;
}

std::optional<ReplyAction> AccountKeeper::PostQuery(Endpoint endpoint, const std::string& machineId,
                                                    AddressFamily family) {
  // With a check over each family, each line says which family it is about.
  const std::string familyMark = family == AddressFamily::Either ? "" : " (" + FamilyName(family) + ")";
  std::string reply;
  try {
    reply = HttpPost(*http, ServiceUrl(endpoint), BuildEnvelope(UserName, Password, machineId), SocketFamilyOf(family));
  } catch (const TransportError& error) {
    LogError(error, familyMark);
  } catch (const EnvelopeTooLongError& error) {
    LogError(error);  // an account too long for the envelope is never sent
    return std::nullopt;
  }
  return ApplyReply(reply, familyMark);
}

std::optional<ReplyAction> AccountKeeper::ApplyReply(const std::string& reply, const std::string& familyMark) {
  const auto marker = MatchReplyMarker(reply);
  if (!marker) return std::nullopt;
  const std::string payload = ReplyPayload(reply);
  const std::string line =
      LogStamp() + " " + GetLangStr(marker->messageId, marker->withPayload ? payload : "") + familyMark;
  AddLogLine(line);
  switch (marker->action) {
    case ReplyAction::Updated: ShowUpdatedAddress(UserName + build::kDomainSuffix, payload); break;
    case ReplyAction::Unregistered: EnterUnregisteredState(); break;
    case ReplyAction::Notice: break;
  }
  QueryAnswered(line);
  return marker->action;
}

void AccountKeeper::AddCountdownLine(bool remindWanted) {
  if (!remindWanted) return;
  AddLogLine(CountdownLogLine(UserDefaultLangId(), DaysToClosing(ServerNow)));
}

void AccountKeeper::showclose() {
  if (!RemindWanted()) return;
  ShowCountdownNotice(CountdownNoticeText(UserDefaultLangId(), DaysToClosing(ServerNow)));
}

void AccountKeeper::ShowServiceClosed() {
  const unsigned language = UserDefaultLangId();
  const std::string notice = ClosedNoticeText(language);
  AddLogLine(LogStamp() + ClosedLogLine(language));
  ShowClosedNotice(notice);
}

void WriteJournalLine(const std::string& line) {
  const std::string journalLine = line + "\n";
  std::fwrite(journalLine.data(), 1, journalLine.size(), stderr);
}

std::string OfferedVersion(const std::string& offered) {
  return VersionText(ParseVersion(offered.substr(0, kVersionTextLength)));
}

}  // namespace hw
