// Reading a Jet file in a child process. libmdb trusts the file it reads; a
// damaged or hostile file can make it read out of bounds, abort or loop. The
// child reads the tables and sends the cells through a pipe; whatever happens
// to it, the parent gets either the tables or an error, and its own state is
// never touched by the file. The child's output streams go to /dev/null, so
// libmdb's warnings never reach the program's console.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>

#include "platform/database/jet_reader.h"

namespace ado::jet {

namespace {

constexpr int kIdleTimeoutMs = 60000;  // a child that sends nothing this long is stuck
constexpr uint32_t kMaxText = 1u << 30;

class PipeWriter : public Sink {
 public:
  explicit PipeWriter(int fd) : fd_(fd) { buf_.reserve(1 << 16); }

  void beginTable(const TableDef& t) override {
    put8('T');
    putText(t.info.name);
    put32(uint32_t(t.info.columns.size()));
    for (const auto& c : t.info.columns) {
      putText(c.name);
      put8(uint8_t(c.type));
      put32(uint32_t(c.size));
    }
    put32(uint32_t(t.indexes.size()));
    for (const auto& ix : t.indexes) {
      put32(uint32_t(ix.columns.size()));
      for (int c : ix.columns) put32(uint32_t(c));
    }
  }
  void row(const std::vector<Cell>& cells) override {
    put8('R');
    for (const Cell& c : cells) {
      put8(c.kind);
      switch (c.kind) {
        case Cell::Int: putRaw(&c.i, 8); break;
        case Cell::Real: putRaw(&c.d, 8); break;
        case Cell::Text: putText(c.s); break;
        default: break;
      }
    }
    if (buf_.size() > (1 << 16)) flush();
  }
  void endTable() override { put8('E'); }
  void done() {
    put8('D');
    flush();
  }
  void fail(const Error& e) {
    put8('X');
    int64_t n = e.number;
    putRaw(&n, 8);
    putText(e.description);
    flush();
  }
  void flush() {
    const char* p = buf_.data();
    std::size_t left = buf_.size();
    while (left > 0) {
      ssize_t w = ::write(fd_, p, left);
      if (w < 0) {
        if (errno == EINTR) continue;
        _exit(3);  // the parent has gone
      }
      p += w;
      left -= std::size_t(w);
    }
    buf_.clear();
  }

 private:
  void put8(uint8_t v) { buf_.push_back(char(v)); }
  void put32(uint32_t v) { putRaw(&v, 4); }
  void putRaw(const void* p, std::size_t n) {
    buf_.append(static_cast<const char*>(p), n);
  }
  void putText(const std::string& s) {
    put32(uint32_t(s.size()));
    buf_.append(s);
  }
  int fd_;
  std::string buf_;
};

class PipeReader {
 public:
  PipeReader(int fd, const std::string& path) : fd_(fd), path_(path) {}

  uint8_t get8() {
    uint8_t v;
    getRaw(&v, 1);
    return v;
  }
  uint32_t get32() {
    uint32_t v;
    getRaw(&v, 4);
    return v;
  }
  int64_t get64() {
    int64_t v;
    getRaw(&v, 8);
    return v;
  }
  double getDouble() {
    double v;
    getRaw(&v, 8);
    return v;
  }
  void getText(std::string& s) {
    uint32_t n = get32();
    if (n > kMaxText) throw damaged(path_);
    s.resize(n);
    if (n) getRaw(s.data(), n);
  }
  void getRaw(void* dst, std::size_t n) {
    char* d = static_cast<char*>(dst);
    while (n > 0) {
      if (pos_ == end_) fill();
      std::size_t take = std::min(n, end_ - pos_);
      std::memcpy(d, buf_ + pos_, take);
      pos_ += take;
      d += take;
      n -= take;
    }
  }

 private:
  void fill() {
    for (;;) {
      pollfd p{fd_, POLLIN, 0};
      int r = ::poll(&p, 1, kIdleTimeoutMs);
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) throw damaged(path_);  // stuck
      ssize_t got = ::read(fd_, buf_, sizeof buf_);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) throw damaged(path_);  // the child ended before it said "done"
      pos_ = 0;
      end_ = std::size_t(got);
      return;
    }
  }
  int fd_;
  const std::string& path_;
  char buf_[1 << 16];
  std::size_t pos_ = 0, end_ = 0;
};

class Child {
 public:
  explicit Child(pid_t pid) : pid_(pid) {}
  ~Child() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      reap();
    }
  }
  int wait() {
    int status = reap();
    pid_ = -1;
    return status;
  }

 private:
  int reap() {
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
  }
  pid_t pid_;
};

struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

#if defined(__SANITIZE_ADDRESS__)
#define VELMORA_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELMORA_ASAN 1
#endif
#endif

// Bounds for the child: a hostile file may make libmdb allocate or loop without end.
void limitChild(const Header& header) {
  rlimit cpu{120, 120};
  ::setrlimit(RLIMIT_CPU, &cpu);
#ifndef VELMORA_ASAN  // the sanitizers reserve far more address space than they use
  rlim_t fileBytes = rlim_t(header.pageCount) * rlim_t(header.pageSize);
  rlim_t as = std::max<rlim_t>(rlim_t(1) << 30, fileBytes * 8 + (rlim_t(256) << 20));
  rlimit mem{as, as};
  ::setrlimit(RLIMIT_AS, &mem);
#else
  (void)header;
#endif
}

void childMain(int fd, const Header& header, const std::string& file, const std::string& path) {
  ::signal(SIGPIPE, SIG_IGN);
  limitChild(header);
  int null = ::open("/dev/null", O_WRONLY);
  if (null >= 0) {
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::close(null);
  }
  PipeWriter out(fd);
  try {
    readTables(header, file, nullptr, 0, path, out);
    out.done();
  } catch (const Error& e) {
    out.fail(e);
  } catch (...) {
    out.fail(damaged(path));
  }
  ::close(fd);
  _exit(0);
}

}  // namespace

void readTablesIsolated(const Header& header, const std::string& file,
                        const std::string& pathForErrors, Sink& sink) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) throw Error(kFail, std::string("pipe: ") + std::strerror(errno));
  Fd in{fds[0]};
  Fd out{fds[1]};
  pid_t pid = ::fork();
  if (pid < 0) throw Error(kFail, std::string("fork: ") + std::strerror(errno));
  if (pid == 0) {
    ::close(fds[0]);
    childMain(fds[1], header, file, pathForErrors);
  }
  Child child(pid);
  ::close(out.fd);
  out.fd = -1;

  PipeReader r(in.fd, pathForErrors);
  TableDef def;
  std::vector<Cell> cells;
  bool inTable = false;
  for (;;) {
    uint8_t tag = r.get8();
    if (tag == 'T') {
      if (inTable) throw damaged(pathForErrors);
      def = TableDef{};
      r.getText(def.info.name);
      uint32_t n = r.get32();
      if (n == 0 || n > 4096) throw damaged(pathForErrors);
      def.info.columns.resize(n);
      for (auto& c : def.info.columns) {
        r.getText(c.name);
        uint8_t t = r.get8();
        if (t > uint8_t(JetType::Unknown)) throw damaged(pathForErrors);
        c.type = JetType(t);
        c.size = int(r.get32());
      }
      uint32_t ni = r.get32();
      if (ni > 4096) throw damaged(pathForErrors);
      def.indexes.resize(ni);
      for (auto& ix : def.indexes) {
        uint32_t k = r.get32();
        if (k > 64) throw damaged(pathForErrors);
        for (uint32_t j = 0; j < k; ++j) {
          uint32_t c = r.get32();
          if (c >= n) throw damaged(pathForErrors);
          ix.columns.push_back(int(c));
        }
      }
      cells.assign(n, Cell{});
      inTable = true;
      sink.beginTable(def);
    } else if (tag == 'R') {
      if (!inTable) throw damaged(pathForErrors);
      for (Cell& c : cells) {
        c.kind = Cell::Kind(r.get8());
        switch (c.kind) {
          case Cell::Null: break;
          case Cell::Int: c.i = r.get64(); break;
          case Cell::Real: c.d = r.getDouble(); break;
          case Cell::Text: r.getText(c.s); break;
          default: throw damaged(pathForErrors);
        }
      }
      sink.row(cells);
    } else if (tag == 'E') {
      if (!inTable) throw damaged(pathForErrors);
      inTable = false;
      sink.endTable();
    } else if (tag == 'D') {
      if (inTable) throw damaged(pathForErrors);
      child.wait();
      return;
    } else if (tag == 'X') {
      long number = long(r.get64());
      std::string text;
      r.getText(text);
      child.wait();
      throw Error(number, text);
    } else {
      throw damaged(pathForErrors);
    }
  }
}

}  // namespace ado::jet
