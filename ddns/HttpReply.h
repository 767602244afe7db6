#pragma once
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/AppError.h"
#include "ddns/HttpConnection.h"

namespace hw {

// The status line and head of one reply, and what the client concludes from them.
struct HttpReply {
  std::string statusLine;  // as received, without its line end
  int status = -1;
  std::vector<std::pair<std::string, std::string>> headers;  // names in lower case, values trimmed
  bool headCut = false;  // the server closed inside the head; what arrived counts as the whole head

  // The first value of a header (name in lower case); empty when absent.
  std::string Header(std::string_view name) const;
  bool Has(std::string_view name) const;
  bool IsSuccess() const { return status >= 200 && status <= 299; }
  // A redirect, or any reply naming a location: never followed.
  bool IsRedirect() const;
  // An HTTP/1.0 request keeps its connection only when the reply asks for it; an HTTP/1.1 request
  // keeps it unless the reply says close.
  bool AllowsKeeping(bool http10Request) const;
};

// The second blank-separated word of a status line as a number; -1 when it is none.
int StatusCodeOf(const std::string& statusLine);

// Reads the status line and the head, passing over interim 100 replies.
HttpReply ReadReplyHead(HttpConnection& connection);
// Reads the body as the head frames it: by length, in chunks, or up to the server's close. Throws
// ReplyCutShort when the server closes before the length or the last chunk.
std::string ReadReplyBody(HttpConnection& connection, const HttpReply& reply);

}  // namespace hw
