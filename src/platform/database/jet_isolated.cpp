// Reading a Jet file in a helper program. libmdb trusts the file it reads; a
// damaged or hostile file can make it read out of bounds, abort or loop. The
// reader program (velmora-jet-reader, readerMain below) reads the tables and
// sends the cells through its standard output; whatever happens to it, the
// caller gets either the tables or an error, and its own state is never
// touched by the file. The program is started afresh for every open (exec,
// not a copy of the caller), so no lock or thread of the caller is in it.
//
// The stream: 'T' table (name, columns, indexes), 'R' row (one cell per
// column), 'E' end of table, then 'D' done or 'X' error (number, text).
// Numbers are in the machine's byte order: both ends are the same build.
//
// The caller's side reads the stream on a thread of its own, which parses
// the cells into batches of rows while the caller's thread hands the batch
// before to the sink: the import's inserts, the parsing and the reader's own
// work run at once. At most a few batches wait (the memory stays bounded),
// the sink is called on the caller's thread in the stream's order, and a sink
// that throws (an import stopped) ends the parsing thread and the reader with it.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <exception>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "platform/database/jet_reader.h"
#include "platform/process/child.h"

namespace ado::jet {

namespace {

constexpr int kIdleTimeoutMs = 60000;  // a reader that sends nothing this long is stuck
constexpr int kWaitSliceMs = 20;       // how often a waiting parser looks whether it is still wanted
constexpr std::size_t kBatchRows = 1024;
constexpr std::size_t kBatchesAhead = 3;
constexpr uint32_t kMaxText = 1u << 30;
constexpr const char* kReaderName = "velmora-jet-reader";

struct ParentGone {};  // the reader's output has nobody reading it
struct Abandoned {};   // the caller no longer takes the stream's cells

class StreamWriter : public Sink {
 public:
  StreamWriter() { buf_.reserve(1 << 16); }

  void expectRows(uint64_t rows) override {
    put8('N');
    putRaw(&rows, 8);
  }
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
    buf_.clear();  // a table cut short is not sent
    put8('X');
    int64_t n = e.number;
    putRaw(&n, 8);
    putText(e.description);
    flush();
  }
  void flush() {
    const bool sent = platform::writeToParent(buf_.data(), buf_.size());
    buf_.clear();
    if (!sent) throw ParentGone{};
  }

 private:
  void put8(uint8_t v) { buf_.push_back(char(v)); }
  void put32(uint32_t v) { putRaw(&v, 4); }
  void putRaw(const void* p, std::size_t n) { buf_.append(static_cast<const char*>(p), n); }
  void putText(const std::string& s) {
    put32(uint32_t(s.size()));
    buf_.append(s);
  }
  std::string buf_;
};

class StreamReader {
 public:
  StreamReader(platform::ChildProcess& child, const std::string& path, const std::atomic<bool>& abandoned)
      : child_(child), path_(path), abandoned_(abandoned) {}

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
    std::size_t got = 0;
    for (int waited = 0;; waited += kWaitSliceMs) {
      if (abandoned_.load(std::memory_order_relaxed)) throw Abandoned{};
      const auto r = child_.read(buf_, sizeof buf_, kWaitSliceMs, got);
      if (r == platform::ChildProcess::Read::Data) break;
      // Stuck, ended before it said "done", or unreadable: the file is taken as damaged.
      if (r != platform::ChildProcess::Read::Timeout || waited >= kIdleTimeoutMs) throw damaged(path_);
    }
    pos_ = 0;
    end_ = got;
  }
  platform::ChildProcess& child_;
  const std::string& path_;
  const std::atomic<bool>& abandoned_;
  char buf_[1 << 16];
  std::size_t pos_ = 0, end_ = 0;
};

#if defined(__SANITIZE_ADDRESS__)
#define VELMORA_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELMORA_ASAN 1
#endif
#endif

// Bounds for the reader: a hostile file may make libmdb allocate or loop without end.
platform::ChildLimits readerLimits(const Header& header) {
  platform::ChildLimits limits;
  limits.cpuSeconds = 120;
#ifndef VELMORA_ASAN  // the sanitizers reserve far more address space than they use
  const uint64_t fileBytes = uint64_t(header.pageCount) * uint64_t(header.pageSize);
  limits.addressSpace = std::max<uint64_t>(uint64_t(1) << 30, fileBytes * 8 + (uint64_t(256) << 20));
#else
  (void)header;
#endif
  return limits;
}

bool executable(const std::string& path) {
  std::ifstream probe(path, std::ios::binary);
  return probe.good();
}

}  // namespace

std::string readerProgram() {
  const std::string folder = platform::executableFolder();
  if (!folder.empty()) {
    const std::string beside = folder + "/" + kReaderName;
    if (executable(beside)) return beside;
  }
  return kReaderName;
}

int readerMain(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s FILE NAME-FOR-ERRORS\n", argv[0]);
    return 2;
  }
  const std::string file = argv[1];
  const std::string path = argv[2];
  StreamWriter out;
  try {
    try {
      std::ifstream f(file, std::ios::binary | std::ios::ate);
      if (!f) throw missingFile(path);
      const std::size_t size = std::size_t(f.tellg());
      f.seekg(0);
      uint8_t page0[4096];
      f.read(reinterpret_cast<char*>(page0), sizeof page0);
      const Header header = inspectHeader(page0, std::size_t(f.gcount()), size, path);
      readTables(header, file, nullptr, 0, path, out);
      out.done();
    } catch (const Error& e) {
      out.fail(e);
    } catch (const ParentGone&) {
      throw;
    } catch (...) {
      out.fail(damaged(path));
    }
  } catch (const ParentGone&) {
    return 3;
  }
  return 0;
}

namespace {

// What the parsing thread hands over: rows of the current table, then what
// came after them in the stream ('R' when the batch was merely full).
struct Batch {
  std::vector<std::vector<Cell>> rows;  // kept with their texts' room, reused
  std::size_t count = 0;
  uint8_t tag = 'R';
  TableDef def;                  // 'T'
  uint64_t expected = 0;         // 'N'
  std::exception_ptr failure;    // 'X', or the stream was damaged
};

class Parser {
 public:
  Parser(platform::ChildProcess& child, const std::string& path) : child_(child), path_(path) {
    for (auto& b : pool_) free_.push_back(&b);
    thread_ = std::thread([this] { run(); });
  }
  // Stops the parsing (if it still runs) and waits for its thread.
  ~Parser() {
    {
      const std::lock_guard<std::mutex> g(lock_);
      abandoned_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  Parser(const Parser&) = delete;
  Parser& operator=(const Parser&) = delete;

  // The next batch, in the stream's order; given back with done().
  Batch& next() {
    std::unique_lock<std::mutex> g(lock_);
    changed_.wait(g, [&] { return !ready_.empty(); });
    Batch* b = ready_.front();
    ready_.pop_front();
    return *b;
  }
  void done(Batch& b) {
    {
      const std::lock_guard<std::mutex> g(lock_);
      free_.push_back(&b);
    }
    changed_.notify_all();
  }

 private:
  Batch* take() {
    std::unique_lock<std::mutex> g(lock_);
    changed_.wait(g, [&] { return !free_.empty() || abandoned_; });
    if (abandoned_) throw Abandoned{};
    Batch* b = free_.front();
    free_.pop_front();
    b->count = 0;
    b->tag = 'R';
    b->failure = nullptr;
    return b;
  }
  void hand(Batch* b) {
    {
      const std::lock_guard<std::mutex> g(lock_);
      ready_.push_back(b);
    }
    changed_.notify_all();
  }

  void run() {
    Batch* b = nullptr;
    try {
      StreamReader r(child_, path_, abandoned_);
      std::size_t columns = 0;
      bool inTable = false;
      b = take();
      for (;;) {
        const uint8_t tag = r.get8();
        if (tag == 'R') {
          if (!inTable) throw damaged(path_);
          if (b->count == kBatchRows) {
            hand(b);
            b = take();
          }
          if (b->rows.size() <= b->count) b->rows.emplace_back();
          std::vector<Cell>& cells = b->rows[b->count];
          cells.resize(columns);
          for (Cell& c : cells) {
            c.kind = Cell::Kind(r.get8());
            switch (c.kind) {
              case Cell::Null: break;
              case Cell::Int: c.i = r.get64(); break;
              case Cell::Real: c.d = r.getDouble(); break;
              case Cell::Text: r.getText(c.s); break;
              default: throw damaged(path_);
            }
          }
          ++b->count;
          continue;
        }
        b->tag = tag;
        if (tag == 'T') {
          if (inTable) throw damaged(path_);
          TableDef& def = b->def;
          def = TableDef{};
          r.getText(def.info.name);
          const uint32_t n = r.get32();
          if (n == 0 || n > 4096) throw damaged(path_);
          def.info.columns.resize(n);
          for (auto& c : def.info.columns) {
            r.getText(c.name);
            const uint8_t t = r.get8();
            if (t > uint8_t(JetType::Unknown)) throw damaged(path_);
            c.type = JetType(t);
            c.size = int(r.get32());
          }
          const uint32_t ni = r.get32();
          if (ni > 4096) throw damaged(path_);
          def.indexes.resize(ni);
          for (auto& ix : def.indexes) {
            const uint32_t k = r.get32();
            if (k > 64) throw damaged(path_);
            for (uint32_t j = 0; j < k; ++j) {
              const uint32_t c = r.get32();
              if (c >= n) throw damaged(path_);
              ix.columns.push_back(int(c));
            }
          }
          columns = n;
          inTable = true;
        } else if (tag == 'N') {
          if (inTable) throw damaged(path_);
          b->expected = static_cast<uint64_t>(r.get64());
        } else if (tag == 'E') {
          if (!inTable) throw damaged(path_);
          inTable = false;
        } else if (tag == 'D') {
          if (inTable) throw damaged(path_);
          child_.wait();
          hand(b);
          return;
        } else if (tag == 'X') {
          const long number = long(r.get64());
          std::string text;
          r.getText(text);
          child_.wait();
          throw Error(number, text);
        } else {
          throw damaged(path_);
        }
        hand(b);
        b = take();
      }
    } catch (const Abandoned&) {
      // Nobody takes the rest.
    } catch (...) {
      if (!b) return;
      b->tag = 'X';
      b->failure = std::current_exception();
      hand(b);
    }
  }

  platform::ChildProcess& child_;
  const std::string& path_;
  Batch pool_[kBatchesAhead];
  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<Batch*> free_, ready_;
  std::atomic<bool> abandoned_{false};
  std::thread thread_;
};

}  // namespace

void readTablesIsolated(const Header& header, const std::string& file,
                        const std::string& pathForErrors, Sink& sink) {
  std::unique_ptr<platform::ChildProcess> child;
  try {
    child = platform::ChildProcess::start(readerProgram(), {file, pathForErrors}, readerLimits(header));
  } catch (const std::runtime_error& e) {
    throw Error(kFail, std::string("The database reader cannot be started (") + e.what() + ").");
  }
  // (Declared after the child: the parsing ends before the reader is killed.)
  Parser parser(*child, pathForErrors);
  for (;;) {
    Batch& b = parser.next();
    for (std::size_t i = 0; i < b.count; ++i) sink.row(b.rows[i]);
    switch (b.tag) {
      case 'T': sink.beginTable(b.def); break;
      case 'N': sink.expectRows(b.expected); break;
      case 'E': sink.endTable(); break;
      case 'D': return;
      case 'X': std::rethrow_exception(b.failure);
      default: break;
    }
    parser.done(b);
  }
}

}  // namespace ado::jet
