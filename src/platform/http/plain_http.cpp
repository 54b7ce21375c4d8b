#include "platform/http/plain_http.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <limits>

#include "common/text_case.h"

namespace platform {

namespace {

using common::asciiLower;

std::string trim(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

}  // namespace

PlainHttpGet::PlainHttpGet(QObject* parent) : QObject(parent), buffer_(256 * 1024) {
  timer_.setSingleShot(true);
  connect(&timer_, &QTimer::timeout, this, [this] { onTimeout(); });
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
  if (net::isAddressLiteral(host)) {
    connectTo({host});
    return;
  }
  if (resolver_) {
    // Reported from the event loop, as the system's lookup is.
    const unsigned id = ++lookupId_;
    QTimer::singleShot(0, this, [this, id, addresses = resolver_(host)] {
      if (active_ && id == lookupId_) connectTo(addresses);
    });
    return;
  }
  const unsigned id = ++lookupId_;
  QHostInfo::lookupHost(QString::fromStdString(host), this, [this, id](const QHostInfo& info) {
    if (!active_ || id != lookupId_) return;
    std::vector<std::string> addresses;
    if (info.error() == QHostInfo::NoError)
      for (const QHostAddress& a : info.addresses()) addresses.push_back(a.toString().toStdString());
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
  net::closeSocket(socket_);
  socket_ = net::kNoSocket;
}

void PlainHttpGet::connectTo(std::vector<std::string> addresses) {
  if (addresses.empty()) return end(false, "host not found: " + host_);
  addresses_ = std::move(addresses);
  nextAddress_ = 0;
  connectNext({});
}

// Tries the next address of the host; the last one's failure is the request's.
void PlainHttpGet::connectNext(const std::string& lastError) {
  closeSocket();
  connected_ = false;
  sent_ = 0;
  std::string error = lastError;
  while (nextAddress_ < addresses_.size()) {
    const std::string& address = addresses_[nextAddress_++];
    socket_ = net::startConnect(address, port_, error);
    if (socket_ == net::kNoSocket) continue;
    touch();
    writeNotifier_ = new QSocketNotifier(socket_, QSocketNotifier::Write, this);
    connect(writeNotifier_, &QSocketNotifier::activated, this, [this] { onWritable(); });
    return;
  }
  end(false, error.empty() ? "no address to connect to" : error);
}

void PlainHttpGet::onTimeout() {
  // An address that does not answer passes the turn to the next one.
  if (!connected_ && socket_ != net::kNoSocket && nextAddress_ < addresses_.size())
    return connectNext("connect: time-out");
  end(false, "time-out");
}

void PlainHttpGet::onWritable() {
  if (!active_) return;
  if (!connected_) {
    std::string error;
    if (!net::connectResult(socket_, error)) return connectNext(error);
    connected_ = true;
    readNotifier_ = new QSocketNotifier(socket_, QSocketNotifier::Read, this);
    connect(readNotifier_, &QSocketNotifier::activated, this, [this] { onReadable(); });
  }
  while (sent_ < request_.size()) {
    const net::IoResult r = net::sendSome(socket_, request_.data() + sent_, request_.size() - sent_);
    if (r.kind == net::IoResult::WouldBlock) return;
    if (r.kind != net::IoResult::Moved) return end(false, r.error.empty() ? "send: connection closed" : r.error);
    sent_ += r.bytes;
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
    const net::IoResult r = net::receiveSome(socket_, buffer_.data(), buffer_.size());
    switch (r.kind) {
      case net::IoResult::Moved:
        touch();
        taken += r.bytes;
        if (!consume(buffer_.data(), r.bytes)) return;
        continue;
      case net::IoResult::Closed:
        // The server closed the connection.
        if (inHead_) return end(false, "connection closed before the response");
        if (chunked_) return end(false, "connection closed inside the body");
        if (length_ && received_ < *length_) return end(false, "body shorter than Content-Length");
        return end(true, {});
      case net::IoResult::WouldBlock:
        return;
      case net::IoResult::Failed:
        return end(false, r.error);
    }
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
    const std::string k = asciiLower(key);
    if (k == "content-length") {
      // Only a plain number frames the body; a length too large to hold
      // frames one that never ends here (the caller's ceiling or the closed
      // connection ends it).
      if (!value.empty() && std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        errno = 0;
        const long long n = std::strtoll(value.c_str(), nullptr, 10);
        length_ = errno == ERANGE ? std::numeric_limits<int64_t>::max() : n;
      }
    } else if (k == "transfer-encoding" && asciiLower(value).find("chunked") != std::string::npos) {
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
