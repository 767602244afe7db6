// The service's handling of the three posts, on an in-memory database: any body gets a reply or a
// refusal, never a crash.
#include "fuzz/FuzzInput.h"
#include "service/AccountStore.h"
#include "service/Exchange.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static hw::service::AccountStore accounts(hw::service::OpenDatabase("sqlite::memory:"),
                                            "/usr/share/pdns-backend-sqlite3/schema/schema.sqlite3.sql",
                                            ".hostwarden.test");
  static hw::service::Exchange exchange(accounts, true, hw::service::VerificationKey{});
  const hw::service::Query query{std::string(AsText(data, size)), "127.0.0.1", 1371290400};
  exchange.Register(query);
  exchange.Check(query);
  exchange.Release(query);
  return 0;
}
