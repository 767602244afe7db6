#include "core/Registration.h"

#include "common/AppError.h"
#include "ddns/Base64.h"
#include "ddns/Envelope.h"
#include "ddns/ServiceEndpoints.h"
#include "settings/SettingsStore.h"

namespace hw {

std::string FailedRegistrationCheck(const std::string& name, const std::string& password,
                                    const std::string& confirmation) {
  if (password != confirmation) return "20";
  if (name.starts_with('-') || name.ends_with('-')) return "12";
  if (name.size() < 3) return "13";
  if (password.size() < 6) return "14";
  return {};
}

std::string TypedAccountName(const std::string& typed) {
  if (typed.size() > kMaxNameLength) return {};
  std::string name;
  for (const char c : typed) {
    const bool lower = c >= 'a' && c <= 'z';
    const bool upper = c >= 'A' && c <= 'Z';
    if (!lower && !upper && !(c >= '0' && c <= '9') && c != '-') return {};
    name += upper ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return name;
}

RegistrationReply SendRegistration(HttpClient& http, const std::string& name, const std::string& password,
                                   const std::string& machineId) {
  std::string reply;
  try {
    reply = HttpPost(http, ServiceUrl(Endpoint::Register), BuildEnvelope(name, password, machineId));
  } catch (const AppError& error) {  // a transport failure, or an account too long for the envelope
    return {RegistrationReply::Kind::Failed, error.Message()};
  }
  if (reply.starts_with("##")) return {RegistrationReply::Kind::Registered, reply.substr(2)};
  if (reply.starts_with("%%")) return {RegistrationReply::Kind::Taken, {}};
  return {RegistrationReply::Kind::Other, {}};
}

bool StoreAccount(const std::string& name, const std::string& password) {
  SettingsAccess settings;
  if (!settings.OpenSettings(true)) return false;
  settings.WriteText("username", name);
  settings.WriteText("password", EncodeBase64(password));  // encoded once, unlike the envelope
  settings.WriteFlag("REG", true);
  return true;
}

bool ForgetAccount() {
  SettingsAccess settings;
  return settings.OpenSettings(true) && settings.DeleteSettingsTree();
}

std::optional<StoredAccount> ReadStoredAccount() {
  SettingsAccess settings;
  if (!settings.OpenSettings(false) || !settings.SettingExists("REG") || !settings.ReadFlag("REG")) return std::nullopt;
  return StoredAccount{settings.ReadText("username"), DecodeBase64(settings.ReadText("password"))};
}

}  // namespace hw
