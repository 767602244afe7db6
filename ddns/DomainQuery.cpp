#include "ddns/DomainQuery.h"

namespace hw {
namespace {

constexpr std::size_t kMarkerLength = 2;
constexpr std::size_t kTrailerLength = 7;

constexpr ReplyMarkerInfo kMarkers[] = {
    {"##", "25", true, ReplyAction::Updated},       {"**", "25", true, ReplyAction::Updated},
    {"@@", "19", false, ReplyAction::Unregistered}, {"%%", "27", true, ReplyAction::Unregistered},
    {"!!", "18", false, ReplyAction::Notice},       {"^^", "15", false, ReplyAction::Notice},
};

}  // namespace

std::optional<ReplyMarkerInfo> MatchReplyMarker(std::string_view reply) {
  for (const ReplyMarkerInfo& info : kMarkers)
    if (reply.substr(0, kMarkerLength) == info.marker) return info;
  return std::nullopt;
}

std::string ReplyPayload(std::string_view reply) {
  if (reply.size() <= kMarkerLength + kTrailerLength) return {};
  return std::string(reply.substr(kMarkerLength, reply.size() - kMarkerLength - kTrailerLength));
}

std::optional<Endpoint> QueryEndpoint(std::string_view kind) {
  if (kind == "del") return Endpoint::Release;
  if (kind == "check") return Endpoint::Query;
  return std::nullopt;
}

}  // namespace hw
