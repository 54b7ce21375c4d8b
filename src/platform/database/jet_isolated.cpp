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
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <stdexcept>

#include "common/sanitizers.h"
#include "platform/database/jet_reader.h"
#include "platform/process/child.h"

namespace ado::jet {

namespace {

constexpr int kIdleTimeoutMs = 60000;  // a reader that sends nothing this long is stuck
constexpr uint32_t kMaxText = 1u << 30;
constexpr const char* kReaderName = "velmora-jet-reader";
constexpr std::size_t kPopulatedBytes = std::size_t(256) << 20;  // a library of a million products is 95 MiB

struct ParentGone {};  // the reader's output has nobody reading it

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
    // Room for the row at most, then the row written into it.
    std::size_t room = 1 + cells.size() * 9;
    for (const Cell& c : cells)
      if (c.kind == Cell::Text) room += 4 + c.s.size();
    const std::size_t at = buf_.size();
    buf_.resize(at + room);
    char* o = buf_.data() + at;
    auto raw = [&o](const void* p, std::size_t n) {
      std::memcpy(o, p, n);
      o += n;
    };
    *o++ = 'R';
    for (const Cell& c : cells) {
      *o++ = char(c.kind);
      switch (c.kind) {
        case Cell::Int: raw(&c.i, 8); break;
        case Cell::Real: raw(&c.d, 8); break;
        case Cell::Text: {
          const uint32_t n = uint32_t(c.s.size());
          raw(&n, 4);
          raw(c.s.data(), n);
          break;
        }
        default: break;
      }
    }
    buf_.resize(std::size_t(o - buf_.data()));
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
  StreamReader(platform::ChildProcess& child, const std::string& path) : child_(child), path_(path) {}

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
    if (end_ - pos_ >= n) {
      s.assign(buf_.get() + pos_, n);
      pos_ += n;
      return;
    }
    s.resize(n);
    if (n) getRaw(s.data(), n);
  }
  void getRaw(void* dst, std::size_t n) {
    if (end_ - pos_ >= n) {  // as a rule
      std::memcpy(dst, buf_.get() + pos_, n);
      pos_ += n;
      return;
    }
    char* d = static_cast<char*>(dst);
    while (n > 0) {
      if (pos_ == end_) fill();
      std::size_t take = std::min(n, end_ - pos_);
      std::memcpy(d, buf_.get() + pos_, take);
      pos_ += take;
      d += take;
      n -= take;
    }
  }

 private:
  void fill() {
    std::size_t got = 0;
    // Stuck, ended before it said "done", or unreadable: the file is taken as damaged.
    if (child_.read(buf_.get(), kBuffer, kIdleTimeoutMs, got) != platform::ChildProcess::Read::Data)
      throw damaged(path_);
    pos_ = 0;
    end_ = got;
  }
  platform::ChildProcess& child_;
  const std::string& path_;
  static constexpr std::size_t kBuffer = std::size_t(1) << 18;
  std::unique_ptr<char[]> buf_{new char[kBuffer]};
  std::size_t pos_ = 0, end_ = 0;
};


// Bounds for the reader: a hostile file may make libmdb allocate or loop without end.
platform::ChildLimits readerLimits(const Header& header) {
  platform::ChildLimits limits;
  limits.cpuSeconds = 120;
#ifndef VELMORA_SANITIZED  // the sanitizers reserve far more address space than they use
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
#ifdef F_SETPIPE_SZ
  // Room in the pipe for the reader to run ahead of the import, instead of
  // waiting for it at every 64 KiB (where the system allows; otherwise as it is).
  ::fcntl(1, F_SETPIPE_SZ, 1 << 20);
#endif
  StreamWriter out;
  try {
    try {
      // The file is mapped and handed to libmdb whole: its pages are then
      // read without a seek and a read (and libmdb's size check) each. A
      // file that shrinks under the mapping ends this program, not the caller.
      // A name that is no longer a file (a pipe put in its place) is refused
      // at once instead of waiting for a writer.
      const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
      if (fd < 0) throw missingFile(path);
      struct stat st{};
      const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
      const std::size_t size = regular ? std::size_t(st.st_size) : 0;
      // Its pages are read in at once (one call instead of a fault each) up
      // to a bound: a larger file, or one with holes that claims to be large,
      // is read in as libmdb comes to its pages.
      const int populate = size <= kPopulatedBytes ? MAP_POPULATE : 0;
      void* mapped = size > 0 ? ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | populate, fd, 0) : MAP_FAILED;
      ::close(fd);
      if (!regular) throw missingFile(path);
      if (size == 0) {
        const uint8_t none[1] = {};
        inspectHeader(none, 0, 0, path);  // says what an empty file is
        throw damaged(path);
      }
      if (mapped == MAP_FAILED) {  // no room to map it: read as a file
        std::ifstream f(file, std::ios::binary);
        uint8_t page0[4096];
        f.read(reinterpret_cast<char*>(page0), sizeof page0);
        const Header header = inspectHeader(page0, std::size_t(f.gcount()), size, path);
        readTables(header, file, nullptr, 0, path, out);
      } else {
        const Header header = inspectHeader(static_cast<const uint8_t*>(mapped), std::min<std::size_t>(size, 4096),
                                            size, path);
        readTables(header, "", mapped, size, path, out);
      }
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

void readTablesIsolated(const Header& header, const std::string& file,
                        const std::string& pathForErrors, Sink& sink) {
  std::unique_ptr<platform::ChildProcess> child;
  try {
    child = platform::ChildProcess::start(readerProgram(), {file, pathForErrors}, readerLimits(header));
  } catch (const std::runtime_error& e) {
    throw Error(kFail, std::string("The database reader cannot be started (") + e.what() + ").");
  }
  StreamReader r(*child, pathForErrors);
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
    } else if (tag == 'N') {
      if (inTable) throw damaged(pathForErrors);
      sink.expectRows(static_cast<uint64_t>(r.get64()));
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
      child->wait();
      return;
    } else if (tag == 'X') {
      long number = long(r.get64());
      std::string text;
      r.getText(text);
      child->wait();
      throw Error(number, text);
    } else {
      throw damaged(pathForErrors);
    }
  }
}

}  // namespace ado::jet
