#pragma once
#include <map>
#include <string>

#include "ddns/HttpReply.h"

namespace hw {

// The cookies a client was given, in memory, per host; every request to that host carries them all.
class CookieStore {
 public:
  // Keeps the name=value pair of each "Set-Cookie" and "Set-Cookie2" header of the reply, unless
  // its name or value holds a control byte (such a cookie is dropped, the rest of the reply read as
  // ever). A reply
  // that would make the store hold more than `limit` cookies fails as too large; what it set up to
  // that point stays.
  void Take(const std::string& host, const HttpReply& reply, std::size_t limit);
  // "name=value; other=value" for the host; empty when it has none.
  std::string HeaderFor(const std::string& host) const;

 private:
  std::map<std::string, std::map<std::string, std::string>> byHost_;  // host in lower case, then name
  std::size_t count_ = 0;
};

}  // namespace hw
