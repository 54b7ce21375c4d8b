#pragma once
// The operating system's socket calls used by the plain http transfer, all in
// one place: a port to another system replaces this file (and its .cpp) only.
// Every socket is a non-blocking TCP stream; none of these calls waits.
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform::net {

// A socket as the system names it (a file descriptor here); kNoSocket: none.
using SocketHandle = std::intptr_t;
inline constexpr SocketHandle kNoSocket = -1;

// True when text is a numeric IPv4 or IPv6 address (no name lookup needed).
bool isAddressLiteral(const std::string& text);

// Opens a socket and starts connecting to a numeric address. kNoSocket, with
// the reason in error, when that failed at once; otherwise the connection
// completes later: wait until the socket is writable, then ask connectResult.
SocketHandle startConnect(const std::string& address, int port, std::string& error);

// After the socket became writable: true when the connection stands; false,
// with the reason, when it was refused or could not be made.
bool connectResult(SocketHandle socket, std::string& error);

struct IoResult {
  enum Kind { Moved, WouldBlock, Closed, Failed } kind = Failed;
  size_t bytes = 0;   // Moved: how many
  std::string error;  // Failed: why
};

// Sends what the socket takes now (never raises a broken-pipe signal).
IoResult sendSome(SocketHandle socket, const char* data, size_t size);
// Receives what is there now; Closed when the peer has ended the stream.
IoResult receiveSome(SocketHandle socket, char* buffer, size_t size);

// Closes the socket (kNoSocket is ignored).
void closeSocket(SocketHandle socket);

}  // namespace platform::net
