// The domain query: one exchange for the in-memory account and what its reply marker asks for.
#include "BuildConfig.h"
#include "app/Unit1.h"
#include "common/AppError.h"
#include "ddns/DomainQuery.h"
#include "ddns/Envelope.h"
#include "lifetime/ClosingSchedule.h"
#include "lifetime/ServerClock.h"
#include "platform/UserLanguage.h"
#include "settings/Reminders.h"

namespace hw {

void TForm1::SendQuery(const std::string& machineId, const std::string& kind) {
  const bool remindWanted = RemindWanted();  // read before anything is sent
  const auto endpoint = QueryEndpoint(kind);
  if (!endpoint) throw AppError("Unknown query kind '" + kind + "'");
  std::string reply;
  try {
    reply = HttpPost(*http, ServiceUrl(*endpoint), BuildEnvelope(UserName, Password, machineId));
  } catch (const TransportError& error) {
    LogError(error);
  } catch (const EnvelopeTooLongError& error) {
    LogError(error);  // an account too long for the envelope is never sent
  }
  ApplyReply(reply);
  AddCountdownLine(remindWanted);
}

void TForm1::ApplyReply(const std::string& reply) {
  const auto marker = MatchReplyMarker(reply);
  if (!marker) return;
  const std::string payload = ReplyPayload(reply);
  AddLogLine(LogStamp() + " " + GetLangStr(marker->messageId, marker->withPayload ? payload : ""));
  switch (marker->action) {
    case ReplyAction::Updated:
      Label5->setText(QString::fromStdString(UserName + build::kDomainSuffix));
      Label6->setText(QString::fromStdString(payload));
      break;
    case ReplyAction::Unregistered: EnterUnregisteredState(); break;
    case ReplyAction::Notice: break;
  }
}

void TForm1::EnterUnregisteredState() {
  Timer1->Disable();
  Button2->setText(QString::fromStdString(GetLangStr("1")));
  Button3->setEnabled(false);
  CoolTrayIcon1->StartBlinking();
}

void TForm1::AddCountdownLine(bool remindWanted) {
  if (!remindWanted) return;
  AddLogLine(CountdownLogLine(UserDefaultLangId(), DaysToClosing(ServerNow)));
}

}  // namespace hw
