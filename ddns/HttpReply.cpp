#include "ddns/HttpReply.h"

#include <algorithm>
#include <cstdlib>

#include "common/AppError.h"
#include "common/Text.h"

namespace hw {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

HttpReply ReadOneHead(HttpConnection& connection) {
  const auto statusLine = connection.ReadLine();
  if (!statusLine) throw TransportError("Connection Closed Gracefully.");  // wording and capitals as users know it
  HttpReply reply;
  reply.statusLine = *statusLine;
  reply.status = StatusCodeOf(*statusLine);
  while (true) {
    const auto line = connection.ReadLine();
    if (!line) {
      reply.headCut = true;
      return reply;
    }
    if (line->empty()) return reply;
    const auto colon = line->find(':');
    if (colon == std::string::npos) continue;  // not a header; nothing to learn from it
    reply.headers.emplace_back(AsciiLower(TrimBlanks(std::string_view(*line).substr(0, colon))),
                               TrimBlanks(std::string_view(*line).substr(colon + 1)));
  }
}

std::string ReadChunked(HttpConnection& connection) {
  std::string body;
  while (const auto sizeLine = connection.ReadLine()) {
    const std::size_t size = std::strtoul(sizeLine->c_str(), nullptr, 16);
    if (size == 0) {
      connection.ReadLine();  // the empty line that ends the chunks
      break;
    }
    body += connection.ReadUpTo(size);
    connection.ReadLine();  // the chunk's own line end
  }
  return body;
}

}  // namespace

std::string HttpReply::Header(std::string_view name) const {
  const auto found =
      std::find_if(headers.begin(), headers.end(), [&](const auto& header) { return header.first == name; });
  return found != headers.end() ? found->second : std::string();
}

bool HttpReply::Has(std::string_view name) const {
  return std::any_of(headers.begin(), headers.end(), [&](const auto& header) { return header.first == name; });
}

bool HttpReply::IsRedirect() const { return Has("location") || (status >= 300 && status <= 399 && status != 304); }

bool HttpReply::AllowsKeeping(bool http10Request) const {
  const auto says = [this](const char* token) {
    return AsciiLower(Header("connection")) == token || AsciiLower(Header("proxy-connection")) == token;
  };
  return http10Request ? says("keep-alive") : !says("close");
}

int StatusCodeOf(const std::string& statusLine) {
  const auto start = statusLine.find(' ');
  if (start == std::string::npos) return -1;
  const std::string word = statusLine.substr(start + 1, statusLine.find(' ', start + 1) - start - 1);
  if (word.empty() || word.size() > 9 || !std::all_of(word.begin(), word.end(), IsDigit)) return -1;
  return std::stoi(word);
}

HttpReply ReadReplyHead(HttpConnection& connection) {
  HttpReply reply = ReadOneHead(connection);
  while (reply.status == 100) reply = ReadOneHead(connection);
  return reply;
}

std::string ReadReplyBody(HttpConnection& connection, const HttpReply& reply) {
  if (AsciiLower(reply.Header("transfer-encoding")).find("chunked") != std::string::npos)
    return ReadChunked(connection);
  if (!reply.Has("content-length")) return connection.ReadToClose();
  const long length = std::strtol(reply.Header("content-length").c_str(), nullptr, 10);
  return length > 0 ? connection.ReadUpTo(static_cast<std::size_t>(length)) : std::string();
}

}  // namespace hw
