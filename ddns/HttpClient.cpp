#include "ddns/HttpClient.h"

#include <algorithm>
#include <cctype>

#include "common/AppError.h"

namespace hw {
namespace {

constexpr const char* kAccept = "text/html, */*";
constexpr const char* kUserAgent = "Mozilla/3.0 (compatible; Indy Library)";

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The second blank-separated word as a number, -1 when it is none.
int StatusCode(const std::string& statusLine) {
  const auto start = statusLine.find(' ');
  if (start == std::string::npos) return -1;
  const std::string word = statusLine.substr(start + 1, statusLine.find(' ', start + 1) - start - 1);
  if (word.empty() || word.size() > 9 || !std::all_of(word.begin(), word.end(), ::isdigit)) return -1;
  return std::stoi(word);
}

}  // namespace

struct HttpClient::Reply {
  std::string statusLine;
  int status = -1;
  std::vector<std::pair<std::string, std::string>> headers;  // names in lower case
  bool headersCut = false;

  std::string Header(const std::string& name) const {
    for (const auto& [key, value] : headers)
      if (key == name) return value;
    return {};
  }
  bool Has(const std::string& name) const {
    return std::any_of(headers.begin(), headers.end(), [&](const auto& header) { return header.first == name; });
  }
  bool ConnectionSays(const std::string& token) const {
    return Lower(Trim(Header("connection"))) == token || Lower(Trim(Header("proxy-connection"))) == token;
  }
};

HttpClient::HttpClient(Pump pump) : pump_(std::move(pump)) {}
HttpClient::~HttpClient() = default;

void HttpClient::SetTimeouts(int connectMs, int silenceMs, int errorBodyMs) {
  limits_ = {connectMs, silenceMs, errorBodyMs};
  connection_.reset();
}

std::string HttpClient::Get(const std::string& url) { return Exchange("GET", url, nullptr); }

std::string HttpClient::Post(const std::string& url, const std::string& body) {
  contentType_ = "application/x-www-form-urlencoded";
  return Exchange("POST", url, &body);
}

HttpClient::Target HttpClient::ParseUrl(const std::string& url) {
  Target target;
  std::string rest = url;
  if (const auto scheme = rest.find("://"); scheme != std::string::npos) rest = rest.substr(scheme + 3);
  const auto slash = rest.find('/');
  target.path = slash == std::string::npos ? "/" : rest.substr(slash);
  std::string authority = rest.substr(0, slash);
  if (const auto colon = authority.rfind(':'); colon != std::string::npos) {
    try {
      target.port = std::stoi(authority.substr(colon + 1));
    } catch (const std::exception&) {
      target.port = 80;
    }
    authority.resize(colon);
  }
  target.host = authority;
  return target;
}

std::string HttpClient::Head(const std::string& method, const Target& target, const std::string* body) const {
  const bool post = body != nullptr;
  std::string head = method + " " + target.path + (post ? " HTTP/1.0" : " HTTP/1.1") + "\r\n";
  const auto add = [&head](const char* name, const std::string& value) {
    if (!value.empty()) head += std::string(name) + ": " + value + "\r\n";
  };
  add("Connection", connectionToken_);
  add("Content-Type", contentType_);
  add("Content-Length", post ? std::to_string(body->size()) : "");
  add("Host", target.port == 80 ? target.host : target.host + ":" + std::to_string(target.port));
  add("Accept", kAccept);
  add("User-Agent", kUserAgent);
  std::string cookie;
  if (const auto found = cookies_.find(Lower(target.host)); found != cookies_.end())
    for (const auto& [name, value] : found->second) cookie += (cookie.empty() ? "" : "; ") + name + "=" + value;
  add("Cookie", cookie);
  return head + "\r\n";
}

std::string HttpClient::Exchange(const std::string& method, const std::string& url, const std::string* body) {
  const bool post = body != nullptr;
  const Target target = ParseUrl(url);
  if (post && connectionToken_.empty()) connectionToken_ = "keep-alive";  // HTTP/1.0 keep-alive request

  // A request made while another of this client waits (from a handler run by the pump) gets its own
  // connection, so the waiting one is neither closed nor fed a stranger's reply.
  std::unique_ptr<HttpConnection> nested;
  if (waiting_) nested = std::make_unique<HttpConnection>(pump_, limits_);
  else if (!connection_) connection_ = std::make_unique<HttpConnection>(pump_, limits_);
  HttpConnection& connection = nested ? *nested : *connection_;
  struct WaitingFlag {
    bool& flag;
    bool previous;
    ~WaitingFlag() { flag = previous; }
  } waiting{waiting_, waiting_};
  waiting_ = true;

  try {
    if (post || !connection.IsOpen() || connection.PeerClosed()) connection.Open(target.host, target.port);
    connection.SetSilenceLimit(limits_.silenceMs);
    connection.Send(Head(method, target, body));
    if (post) connection.Send(*body);
    const Reply reply = ReadReply(connection, target);
    std::string received = ReadBody(connection, reply);
    const bool keep = post ? reply.ConnectionSays("keep-alive") : !reply.ConnectionSays("close");
    if (!keep || connection.PeerClosed()) connection.Close();
    return received;
  } catch (...) {
    connection.Close();
    throw;
  }
}

HttpClient::Reply HttpClient::ReadReply(HttpConnection& connection, const Target& target) {
  Reply reply;
  do {
    const auto statusLine = connection.ReadLine();
    if (!statusLine) throw TransportError("Connection Closed Gracefully.");
    reply = Reply{*statusLine, StatusCode(*statusLine), {}, false};
    while (true) {
      const auto line = connection.ReadLine();
      if (!line) {
        reply.headersCut = true;  // what arrived counts as the whole head
        break;
      }
      if (line->empty()) break;
      const auto colon = line->find(':');
      if (colon == std::string::npos) continue;
      reply.headers.emplace_back(Lower(Trim(line->substr(0, colon))), Trim(line->substr(colon + 1)));
    }
  } while (reply.status == 100);

  for (const auto& [name, value] : reply.headers) {
    if (name != "set-cookie" && name != "set-cookie2") continue;
    const std::string pair = value.substr(0, value.find(';'));
    if (const auto equals = pair.find('='); equals != std::string::npos)
      cookies_[Lower(target.host)][Trim(pair.substr(0, equals))] = Trim(pair.substr(equals + 1));
  }
  return reply;
}

std::string HttpClient::ReadBody(HttpConnection& connection, const Reply& reply) {
  const bool redirect = reply.Has("location") || (reply.status >= 300 && reply.status <= 399 && reply.status != 304);
  const bool success = reply.status >= 200 && reply.status <= 299;
  const auto readFramed = [&]() -> std::string {
    if (Lower(reply.Header("transfer-encoding")).find("chunked") != std::string::npos) {
      std::string body;
      while (true) {
        const auto sizeLine = connection.ReadLine();
        if (!sizeLine) return body;
        const std::size_t size = std::strtoul(sizeLine->c_str(), nullptr, 16);
        if (size == 0) {
          connection.ReadLine();
          return body;
        }
        body += connection.ReadUpTo(size);
        connection.ReadLine();
      }
    }
    if (reply.Has("content-length")) {
      const long length = std::strtol(reply.Header("content-length").c_str(), nullptr, 10);
      return length > 0 ? connection.ReadUpTo(static_cast<std::size_t>(length)) : std::string();
    }
    return connection.ReadToClose();
  };

  if (redirect || !success) {
    connection.SetSilenceLimit(limits_.errorBodyMs);  // a failed reply's body is read briefly, then dropped
    readFramed();
    connection.Close();
    throw TransportError(reply.statusLine);
  }
  if (reply.headersCut) throw TransportError("Undefined situation");
  if (reply.status == 204) return {};
  return readFramed();
}

std::string HttpGet(HttpClient& client, const std::string& url) { return client.Get(url); }
std::string HttpPost(HttpClient& client, const std::string& url, const std::string& body) {
  return client.Post(url, body);
}

}  // namespace hw
