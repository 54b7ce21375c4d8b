#include "platform/http/plain_http.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QSocketNotifier>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

namespace {

std::string lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::string trim(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

}  // namespace

PlainHttpGet::PlainHttpGet(QObject* parent) : QObject(parent), buffer_(256 * 1024) {
  timer_.setSingleShot(true);
  connect(&timer_, &QTimer::timeout, this, [this] { end(false, "time-out"); });
}

PlainHttpGet::~PlainHttpGet() { closeSocket(); }

void PlainHttpGet::start(const std::string& host, int port, const std::string& target, int timeoutMs,
                         Callbacks callbacks) {
  stop();
  cb_ = std::move(callbacks);
  host_ = host;
  port_ = port;
  target_ = target;
  active_ = true;
  inHead_ = true;
  head_.clear();
  length_.reset();
  received_ = 0;
  chunked_ = false;
  chunk_ = Chunk::Size;
  chunkLine_.clear();
  chunkLeft_ = 0;
  sent_ = 0;
  connected_ = false;
  timer_.setInterval(timeoutMs);
  touch();
  const std::string hostHeader =
      (host.find(':') != std::string::npos ? "[" + host + "]" : host) + (port == 80 ? "" : ":" + std::to_string(port));
  request_ = "GET " + target + " HTTP/1.1\r\nHost: " + hostHeader +
             "\r\nAccept-Encoding: identity\r\nConnection: close\r\nUser-Agent: Quennar\r\n\r\n";
  QHostAddress literal;
  if (literal.setAddress(QString::fromStdString(host))) {
    connectTo({host});
    return;
  }
  const unsigned id = ++lookupId_;
  QHostInfo::lookupHost(QString::fromStdString(host), this, [this, id](const QHostInfo& info) {
    if (!active_ || id != lookupId_) return;
    std::vector<std::string> addresses;
    for (const QHostAddress& a : info.addresses()) addresses.push_back(a.toString().toStdString());
    if (info.error() != QHostInfo::NoError || addresses.empty()) {
      end(false, "host not found: " + host_);
      return;
    }
    connectTo(addresses);
  });
}

void PlainHttpGet::stop() {
  active_ = false;
  ++lookupId_;
  timer_.stop();
  closeSocket();
}

void PlainHttpGet::closeSocket() {
  // The notifiers may be in the middle of their own signal: disabled now,
  // deleted later.
  for (QSocketNotifier** n : {&readNotifier_, &writeNotifier_}) {
    if (*n) {
      (*n)->setEnabled(false);
      (*n)->disconnect();
      (*n)->deleteLater();
      *n = nullptr;
    }
  }
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void PlainHttpGet::connectTo(const std::vector<std::string>& addresses) {
  // The first address is tried; a name with several is rare for the vendor's
  // update server, and a failure is reported like any other.
  const std::string& address = addresses.front();
  sockaddr_storage storage{};
  socklen_t len = 0;
  int family = AF_INET;
  if (address.find(':') != std::string::npos) {
    family = AF_INET6;
    auto* a6 = reinterpret_cast<sockaddr_in6*>(&storage);
    a6->sin6_family = AF_INET6;
    a6->sin6_port = htons(static_cast<uint16_t>(port_));
    if (::inet_pton(AF_INET6, address.c_str(), &a6->sin6_addr) != 1) return end(false, "bad address");
    len = sizeof(sockaddr_in6);
  } else {
    auto* a4 = reinterpret_cast<sockaddr_in*>(&storage);
    a4->sin_family = AF_INET;
    a4->sin_port = htons(static_cast<uint16_t>(port_));
    if (::inet_pton(AF_INET, address.c_str(), &a4->sin_addr) != 1) return end(false, "bad address");
    len = sizeof(sockaddr_in);
  }
  fd_ = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return end(false, std::string("socket: ") + std::strerror(errno));
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&storage), len) != 0 && errno != EINPROGRESS)
    return end(false, std::string("connect: ") + std::strerror(errno));
  writeNotifier_ = new QSocketNotifier(fd_, QSocketNotifier::Write, this);
  connect(writeNotifier_, &QSocketNotifier::activated, this, [this] { onWritable(); });
}

void PlainHttpGet::onWritable() {
  if (!active_) return;
  if (!connected_) {
    int err = 0;
    socklen_t len = sizeof err;
    ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len);
    if (err != 0) return end(false, std::string("connect: ") + std::strerror(err));
    connected_ = true;
    readNotifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(readNotifier_, &QSocketNotifier::activated, this, [this] { onReadable(); });
  }
  while (sent_ < request_.size()) {
    const ssize_t n = ::send(fd_, request_.data() + sent_, request_.size() - sent_, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK) return;
      return end(false, std::string("send: ") + std::strerror(errno));
    }
    sent_ += static_cast<size_t>(n);
  }
  touch();
  writeNotifier_->setEnabled(false);
}

void PlainHttpGet::onReadable() {
  if (!active_) return;
  // Take what is there, but give the event loop back after a few megabytes so
  // that the window keeps running on a fast connection.
  size_t taken = 0;
  while (active_ && taken < (4u << 20)) {
    const ssize_t n = ::recv(fd_, buffer_.data(), buffer_.size(), 0);
    if (n > 0) {
      touch();
      taken += static_cast<size_t>(n);
      if (!consume(buffer_.data(), static_cast<size_t>(n))) return;
      continue;
    }
    if (n == 0) {
      // The server closed the connection.
      if (inHead_) return end(false, "connection closed before the response");
      if (chunked_) return end(false, "connection closed inside the body");
      if (length_ && received_ < *length_) return end(false, "body shorter than Content-Length");
      return end(true, {});
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK) return;
    if (errno == EINTR) continue;
    return end(false, std::string("recv: ") + std::strerror(errno));
  }
}

bool PlainHttpGet::consume(const char* data, size_t size) {
  if (inHead_) {
    head_.append(data, size);
    const size_t endOfHead = head_.find("\r\n\r\n");
    if (endOfHead == std::string::npos) {
      if (head_.size() > 64 * 1024) {
        end(false, "response head too long");
        return false;
      }
      return true;
    }
    const std::string rest = head_.substr(endOfHead + 4);
    head_.resize(endOfHead + 2);
    inHead_ = false;
    if (!parseHead()) return false;
    if (!active_) return false;
    if (length_ && *length_ == 0 && !chunked_) {
      end(true, {});
      return false;
    }
    return rest.empty() || body(rest.data(), rest.size());
  }
  return body(data, size);
}

bool PlainHttpGet::parseHead() {
  // Status line: HTTP/1.x NNN reason
  const size_t lineEnd = head_.find("\r\n");
  const std::string statusLine = head_.substr(0, lineEnd);
  if (statusLine.compare(0, 5, "HTTP/") != 0 || statusLine.size() < 12) {
    end(false, "not an HTTP response");
    return false;
  }
  const int status = std::atoi(statusLine.c_str() + statusLine.find(' ') + 1);
  Headers headers;
  size_t pos = lineEnd + 2;
  while (pos < head_.size()) {
    const size_t e = head_.find("\r\n", pos);
    const std::string line = head_.substr(pos, e - pos);
    pos = e + 2;
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    headers.emplace_back(trim(line.substr(0, colon)), trim(line.substr(colon + 1)));
  }
  for (const auto& [key, value] : headers) {
    const std::string k = lower(key);
    if (k == "content-length") {
      char* endp = nullptr;
      const long long n = std::strtoll(value.c_str(), &endp, 10);
      if (endp != value.c_str() && *endp == '\0' && n >= 0) length_ = n;
      else {
        end(false, "bad Content-Length");
        return false;
      }
    } else if (k == "transfer-encoding" && lower(value).find("chunked") != std::string::npos) {
      chunked_ = true;
    }
  }
  if (chunked_) length_.reset();  // the chunks decide, not a length
  if (cb_.onHeaders && !cb_.onHeaders(status, headers)) {
    stop();
    return false;
  }
  return true;
}

bool PlainHttpGet::body(const char* data, size_t size) {
  if (!chunked_) {
    if (length_ && received_ + static_cast<int64_t>(size) > *length_)
      size = static_cast<size_t>(*length_ - received_);  // anything past the length is not body
    received_ += static_cast<int64_t>(size);
    if (size > 0 && cb_.onData) cb_.onData(std::string_view(data, size));
    if (!active_) return false;
    if (length_ && received_ == *length_) {
      end(true, {});
      return false;
    }
    return true;
  }
  size_t i = 0;
  while (i < size) {
    switch (chunk_) {
      case Chunk::Size:
      case Chunk::DataEnd:
      case Chunk::Trailer: {
        const char c = data[i++];
        if (c != '\n') {
          chunkLine_ += c;
          if (chunkLine_.size() > 1024) {
            end(false, "bad chunk");
            return false;
          }
          break;
        }
        std::string line = chunkLine_;
        chunkLine_.clear();
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (chunk_ == Chunk::DataEnd) {
          if (!line.empty()) {
            end(false, "bad chunk end");
            return false;
          }
          chunk_ = Chunk::Size;
        } else if (chunk_ == Chunk::Trailer) {
          if (line.empty()) {
            end(true, {});
            return false;
          }
        } else {
          char* endp = nullptr;
          const long long n = std::strtoll(line.c_str(), &endp, 16);
          if (endp == line.c_str() || n < 0) {
            end(false, "bad chunk size");
            return false;
          }
          chunkLeft_ = n;
          chunk_ = n == 0 ? Chunk::Trailer : Chunk::Data;
        }
        break;
      }
      case Chunk::Data: {
        const size_t n = static_cast<size_t>(std::min<int64_t>(chunkLeft_, static_cast<int64_t>(size - i)));
        received_ += static_cast<int64_t>(n);
        if (cb_.onData) cb_.onData(std::string_view(data + i, n));
        if (!active_) return false;
        i += n;
        chunkLeft_ -= static_cast<int64_t>(n);
        if (chunkLeft_ == 0) chunk_ = Chunk::DataEnd;
        break;
      }
    }
  }
  return true;
}

void PlainHttpGet::end(bool ok, const std::string& error) {
  if (!active_) return;
  stop();
  if (cb_.onEnd) cb_.onEnd(ok, error);
}

}  // namespace platform
