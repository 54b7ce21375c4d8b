#include "platform/http/socket_io.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform::net {

namespace {

std::string systemError(const char* call, int code) { return std::string(call) + ": " + std::strerror(code); }

int fd(SocketHandle s) { return static_cast<int>(s); }

}  // namespace

bool isAddressLiteral(const std::string& text) {
  in6_addr a6{};
  in_addr a4{};
  return ::inet_pton(AF_INET, text.c_str(), &a4) == 1 || ::inet_pton(AF_INET6, text.c_str(), &a6) == 1;
}

SocketHandle startConnect(const std::string& address, int port, std::string& error) {
  sockaddr_storage storage{};
  socklen_t len = 0;
  int family = AF_INET;
  auto* a4 = reinterpret_cast<sockaddr_in*>(&storage);
  auto* a6 = reinterpret_cast<sockaddr_in6*>(&storage);
  if (::inet_pton(AF_INET, address.c_str(), &a4->sin_addr) == 1) {
    a4->sin_family = AF_INET;
    a4->sin_port = htons(static_cast<uint16_t>(port));
    len = sizeof(sockaddr_in);
  } else if (::inet_pton(AF_INET6, address.c_str(), &a6->sin6_addr) == 1) {
    family = AF_INET6;
    a6->sin6_family = AF_INET6;
    a6->sin6_port = htons(static_cast<uint16_t>(port));
    len = sizeof(sockaddr_in6);
  } else {
    error = "not a numeric address: " + address;
    return kNoSocket;
  }
  const int s = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (s < 0) {
    error = systemError("socket", errno);
    return kNoSocket;
  }
  if (::connect(s, reinterpret_cast<sockaddr*>(&storage), len) != 0 && errno != EINPROGRESS) {
    error = systemError("connect", errno);
    ::close(s);
    return kNoSocket;
  }
  return s;
}

bool connectResult(SocketHandle socket, std::string& error) {
  int err = 0;
  socklen_t len = sizeof err;
  if (::getsockopt(fd(socket), SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
  if (err == 0) return true;
  error = systemError("connect", err);
  return false;
}

IoResult sendSome(SocketHandle socket, const char* data, size_t size) {
  for (;;) {
    const ssize_t n = ::send(fd(socket), data, size, MSG_NOSIGNAL);
    if (n >= 0) return {IoResult::Moved, static_cast<size_t>(n), {}};
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return {IoResult::WouldBlock, 0, {}};
    return {IoResult::Failed, 0, systemError("send", errno)};
  }
}

IoResult receiveSome(SocketHandle socket, char* buffer, size_t size) {
  for (;;) {
    const ssize_t n = ::recv(fd(socket), buffer, size, 0);
    if (n > 0) return {IoResult::Moved, static_cast<size_t>(n), {}};
    if (n == 0) return {IoResult::Closed, 0, {}};
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return {IoResult::WouldBlock, 0, {}};
    return {IoResult::Failed, 0, systemError("recv", errno)};
  }
}

void closeSocket(SocketHandle socket) {
  if (socket != kNoSocket) ::close(fd(socket));
}

}  // namespace platform::net
