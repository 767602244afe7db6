#pragma once
#include <string>
#include <vector>

namespace hw::service {

// Whether the text is an IPv4 or IPv6 address, and nothing else.
bool IsIpAddress(const std::string& text);

// An address as text in its plain form: an IPv4 address given in IPv6 form ("::ffff:192.0.2.1")
// becomes the IPv4 one; anything else stays as it is.
std::string PlainAddress(const std::string& address);

// An address in the one form a DNS record holds it, so that two spellings of one address compare
// equal: plain (as above) and as inet_ntop writes it ("2001:DB8:0::5" is "2001:db8::5"). Text that
// is no address stays as it is.
std::string RecordForm(const std::string& address);

// Whether an address in record form goes into an AAAA record rather than an A record.
inline bool IsIpv6(const std::string& recordForm) { return recordForm.find(':') != std::string::npos; }

// The address a request came from. The connection's peer, unless the peer is the trusted reverse
// proxy (compared in plain form): then the last entry of all its X-Forwarded-For lines together (a
// proxy appends what it saw, so every earlier entry is the client's to forge) when that entry is an
// address; the empty text when the proxy named none (its own address would be no client's).
std::string ClientAddressOf(const std::string& peer, const std::vector<std::string>& forwardedFor,
                            const std::string& trustedProxy);

// The key a client counts under for its shares and failure budget: an IPv4 address as it is, an
// IPv6 one as its /64 network ("2001:db8:1:2::/64"), as a single host commonly holds a whole /64.
std::string ShareKeyOf(const std::string& plainAddress);

// Text for a log line: every control byte and DEL written as \xNN, and the backslash doubled, so that
// nothing a client sends can end a line or forge another.
std::string LogSafe(const std::string& text);

}  // namespace hw::service
