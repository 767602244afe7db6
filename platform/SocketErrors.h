#pragma once
#include <string>

namespace hw {

// The client reports network failures with the socket error numbers and texts its users and the
// service operators know ("Socket Error # 10061" and "Connection refused.").
int SocketErrorNumberOfErrno(int errnoValue);
int SocketErrorNumberOfResolver(int gaiError);
// The text of a socket error number; empty for a number without one.
std::string SocketErrorText(int number);
// "Socket Error # <number>\r\n<text>".
std::string SocketErrorMessage(int number);

}  // namespace hw
