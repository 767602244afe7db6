#include "ddns/HttpReply.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>

#include "common/AppError.h"
#include "common/Text.h"

namespace hw {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Counts the bytes of a head (and of the interim heads before it) against the client's bound.
class HeadBudget {
 public:
  explicit HeadBudget(std::size_t limit) : left_(limit) {}
  void Take(const std::string& line) {
    const std::size_t cost = line.size() + 2;  // its line end
    if (cost > left_) throw TransportError(kReplyTooLarge);
    left_ -= cost;
  }

 private:
  std::size_t left_;
};

HttpReply ReadOneHead(HttpConnection& connection, HeadBudget& budget) {
  const auto statusLine = connection.ReadLine();
  if (!statusLine) throw ReplyCutShort();
  budget.Take(*statusLine);
  HttpReply reply;
  reply.statusLine = *statusLine;
  reply.status = StatusCodeOf(*statusLine);
  while (true) {
    const auto line = connection.ReadLine();
    if (!line) {
      reply.headCut = true;
      return reply;
    }
    budget.Take(*line);
    if (line->empty()) return reply;
    const auto colon = line->find(':');
    if (colon == std::string::npos) continue;  // not a header; nothing to learn from it
    reply.headers.emplace_back(AsciiLower(TrimBlanks(std::string_view(*line).substr(0, colon))),
                               TrimBlanks(std::string_view(*line).substr(colon + 1)));
  }
}

// A chunk's size: hexadecimal digits, then nothing or the chunk's extensions after ";" (ignored).
// Anything else, a sign included, is no size at all.
std::size_t ChunkSize(const std::string& line, std::size_t limit) {
  const std::string_view digits = Trim(std::string_view(line).substr(0, line.find(';')));
  std::size_t size = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), size, 16);
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() || size > limit)
    throw TransportError(kReplyTooLarge);
  return size;
}

std::string ReadChunked(HttpConnection& connection, std::size_t limit) {
  std::string body;
  for (;;) {
    const auto sizeLine = connection.ReadLine();
    if (!sizeLine) throw ReplyCutShort();  // closed before the last chunk
    const std::size_t size = ChunkSize(*sizeLine, limit - body.size());
    if (size == 0) {
      connection.ReadLine();  // the empty line that ends the chunks
      return body;
    }
    body += connection.ReadExactly(size);
    connection.ReadLine();  // the chunk's own line end
  }
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
  HeadBudget budget(connection.Limits().headBytes);
  HttpReply reply = ReadOneHead(connection, budget);
  for (int interim = 1; reply.status == 100; ++interim) {
    if (interim > connection.Limits().interimReplies) throw TransportError(kReplyTooLarge);
    reply = ReadOneHead(connection, budget);
  }
  return reply;
}

std::string ReadReplyBody(HttpConnection& connection, const HttpReply& reply) {
  const std::size_t limit = connection.Limits().bodyBytes;
  if (AsciiLower(reply.Header("transfer-encoding")).find("chunked") != std::string::npos)
    return ReadChunked(connection, limit);
  if (!reply.Has("content-length")) return connection.ReadToClose(limit);
  const long long length = std::strtoll(reply.Header("content-length").c_str(), nullptr, 10);
  if (length > 0 && static_cast<unsigned long long>(length) > limit) throw TransportError(kReplyTooLarge);
  if (length <= 0) return {};
  return connection.ReadExactly(static_cast<std::size_t>(length));
}

}  // namespace hw
