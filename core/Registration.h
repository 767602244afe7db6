#pragma once
#include <optional>
#include <string>

#include "ddns/HttpClient.h"

namespace hw {

// Claiming and giving up an account name, without any window: the rules a name and a password must
// meet, the registration exchange and what is stored of an account.
inline constexpr std::size_t kMaxNameLength = 16;
// What the request envelope leaves for a password beside the longest name and the machine id.
inline constexpr std::size_t kMaxPasswordBytes = 218;

// The registration dialog's checks in their order: the text id of the first that fails, or "".
std::string FailedRegistrationCheck(const std::string& name, const std::string& password,
                                    const std::string& confirmation);
// A name as typed, with letters in lower case; "" when it holds anything but letters, digits and
// minus signs or is longer than a name may be (what the dialog's name field never lets through).
std::string TypedAccountName(const std::string& typed);

struct RegistrationReply {
  enum class Kind {
    Registered,  // "##": the name is this machine's; `text` is the service's message
    Taken,       // "%%": the name is not available
    Failed,      // the request failed; `text` is the error's message
    Other,       // any other reply: nothing to say
  };
  Kind kind;
  std::string text;
};

// The registration exchange for `name` on this machine.
RegistrationReply SendRegistration(HttpClient& http, const std::string& name, const std::string& password,
                                   const std::string& machineId);
// Stores the account as registered; false when the settings cannot be written.
bool StoreAccount(const std::string& name, const std::string& password);
// Deletes the stored account; false when the settings could not be opened or the key was not there.
bool ForgetAccount();
struct StoredAccount {
  std::string name;
  std::string password;
};
// The registered account the settings hold, or nothing.
std::optional<StoredAccount> ReadStoredAccount();

}  // namespace hw
