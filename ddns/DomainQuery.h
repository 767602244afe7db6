#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "ddns/ServiceEndpoints.h"

namespace hw {

// What a query reply's first two characters ask the client to do.
enum class ReplyAction {
  Updated,       // "##" and "**": the host name points here; the payload is shown
  Unregistered,  // "@@" and "%%": the account is gone; back to the unregistered state
  Notice,        // "!!" and "^^": one log line, nothing else
};

struct ReplyMarkerInfo {
  const char* marker;
  const char* messageId;  // the text logged for it
  bool withPayload;       // whether the payload is spliced into that text
  ReplyAction action;
};

// The six markers, in the order they are tested; nullopt when the reply starts with none of them.
std::optional<ReplyMarkerInfo> MatchReplyMarker(std::string_view reply);

// The reply without its first two characters and its seven-character trailer.
std::string ReplyPayload(std::string_view reply);

// The endpoint of a query kind: "del" releases the domain, "check" refreshes it.
std::optional<Endpoint> QueryEndpoint(std::string_view kind);

}  // namespace hw
