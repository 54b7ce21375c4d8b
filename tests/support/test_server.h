#pragma once
// A small HTTP/1.1 server on 127.0.0.1 for the updater's tests and benchmark:
// each path answers with a canned response that can be slow, cut short, carry
// any status, or leave out Content-Length. One connection per request
// ("Connection: close"); runs on its own thread until destroyed.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testhttp {

struct Route {
  int status = 200;
  std::string body;
  std::string filePath;       // body streamed from this file instead
  bool contentLength = true;  // send a Content-Length header
  long long declaredLength = -1;  // Content-Length to declare (-1: the body's)
  long long sendBytes = -1;       // cut the body after this many bytes (-1: all)
  int delayMsPerChunk = 0;        // pause between chunks of chunkSize bytes
  size_t chunkSize = 64 * 1024;
  int delayBeforeHeadersMs = 0;
  bool chunked = false;   // Transfer-Encoding: chunked, one chunk per chunkSize bytes
  std::string location;   // a Location header (for redirects)
  bool endless = false;   // the body repeats for ever (until the client goes)
  std::string rawContentLength;  // sent as the Content-Length text instead
};

// A route that answers 200 with these bytes.
inline Route body(const std::string& bytes) {
  Route r;
  r.body = bytes;
  return r;
}

class Server {
 public:
  Server() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(fd_, 64);
    socklen_t len = sizeof addr;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { run(); });
  }
  ~Server() {
    stopping_ = true;
    ::shutdown(fd_, SHUT_RDWR);
    ::close(fd_);
    thread_.join();
    for (auto& t : workers_) t.join();
  }
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  int port() const { return port_; }
  std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
  void set(const std::string& path, Route route) {
    std::lock_guard<std::mutex> lock(mutex_);
    routes_[path] = std::move(route);
  }
  int hits(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    return hits_[path];
  }

 private:
  void run() {
    while (!stopping_) {
      const int client = ::accept(fd_, nullptr, nullptr);
      if (client < 0) {
        if (stopping_) return;
        continue;
      }
      std::lock_guard<std::mutex> lock(mutex_);
      workers_.emplace_back([this, client] { serve(client); });
    }
  }

  static bool sendAll(int fd, const char* data, size_t size) {
    while (size > 0) {
      const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
      if (n <= 0) return false;
      data += n;
      size -= static_cast<size_t>(n);
    }
    return true;
  }

  void serve(int client) {
    timeval timeout{5, 0};
    ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ::setsockopt(client, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);  // a client that stopped reading
    std::string request;
    char buf[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
      const ssize_t n = ::recv(client, buf, sizeof buf, 0);
      if (n <= 0) {
        ::close(client);
        return;
      }
      request.append(buf, static_cast<size_t>(n));
    }
    const size_t sp1 = request.find(' ');
    const size_t sp2 = request.find(' ', sp1 + 1);
    const std::string path = request.substr(sp1 + 1, sp2 - sp1 - 1);
    Route route;
    bool found = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++hits_[path];
      auto it = routes_.find(path);
      if (it != routes_.end()) {
        route = it->second;
        found = true;
      }
    }
    if (!found) {
      route.status = 404;
      route.body = "<html>not found</html>";
    }
    long long size = static_cast<long long>(route.body.size());
    std::ifstream file;
    if (!route.filePath.empty()) {
      file.open(route.filePath, std::ios::binary | std::ios::ate);
      size = static_cast<long long>(file.tellg());
      file.seekg(0);
    }
    if (route.delayBeforeHeadersMs > 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(route.delayBeforeHeadersMs));
    std::string head = "HTTP/1.1 " + std::to_string(route.status) + " X\r\nConnection: close\r\n" +
                       "Content-Type: application/octet-stream\r\n";
    if (!route.location.empty()) head += "Location: " + route.location + "\r\n";
    if (route.chunked) head += "Transfer-Encoding: chunked\r\n";
    else if (!route.rawContentLength.empty()) head += "Content-Length: " + route.rawContentLength + "\r\n";
    else if (route.contentLength && !route.endless)
      head += "Content-Length: " + std::to_string(route.declaredLength >= 0 ? route.declaredLength : size) + "\r\n";
    head += "\r\n";
    bool ok = sendAll(client, head.data(), head.size());
    if (route.endless) {
      const std::string piece(route.chunkSize, 'e');
      while (ok && !stopping_) {
        ok = sendAll(client, piece.data(), piece.size());
        if (route.delayMsPerChunk > 0) std::this_thread::sleep_for(std::chrono::milliseconds(route.delayMsPerChunk));
      }
      ::close(client);
      return;
    }
    long long limit = route.sendBytes >= 0 ? std::min(route.sendBytes, size) : size;
    long long sent = 0;
    std::vector<char> chunk(route.chunkSize);
    while (ok && sent < limit && !stopping_) {
      const size_t n = static_cast<size_t>(std::min<long long>(static_cast<long long>(chunk.size()), limit - sent));
      if (file.is_open()) file.read(chunk.data(), static_cast<std::streamsize>(n));
      else std::memcpy(chunk.data(), route.body.data() + sent, n);
      if (route.chunked) {
        char size[32];
        std::snprintf(size, sizeof size, "%zx\r\n", n);
        ok = sendAll(client, size, std::strlen(size)) && sendAll(client, chunk.data(), n) && sendAll(client, "\r\n", 2);
      } else {
        ok = sendAll(client, chunk.data(), n);
      }
      sent += static_cast<long long>(n);
      if (route.delayMsPerChunk > 0) std::this_thread::sleep_for(std::chrono::milliseconds(route.delayMsPerChunk));
    }
    if (ok && route.chunked && sent >= size) sendAll(client, "0\r\n\r\n", 5);
    ::shutdown(client, SHUT_WR);
    // Drain until the client closes so that it sees the whole response.
    while (::recv(client, buf, sizeof buf, 0) > 0) {
    }
    ::close(client);
  }

  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
  std::vector<std::thread> workers_;
  std::mutex mutex_;
  std::map<std::string, Route> routes_;
  std::map<std::string, int> hits_;
};

}  // namespace testhttp
