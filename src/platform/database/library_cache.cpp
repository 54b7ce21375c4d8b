#include "platform/database/library_cache.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <vector>

#include "platform/database/cache_file.h"
#include "platform/database/import_flight.h"
#include "platform/database/jet_database.h"
#include "platform/database/jet_reader.h"
#include "provider_stamp.h"

namespace ado {

namespace fs = std::filesystem;

namespace {

constexpr char kMagic[8] = {'V', 'L', 'M', 'C', 'A', 'C', 'H', 'E'};
constexpr uint32_t kApplicationId = 0x564c4d43;  // "VLMC" in the database header
constexpr std::size_t kFooter = 8 + 4 + 8 + 8;   // image size, payload size, payload hash, magic
constexpr uint64_t kDefaultLimit = uint64_t(2048) << 20;

std::atomic<int> enabledState{-1};  // -1: not decided yet
std::atomic<uint64_t> limitBytes{0};  // 0: from the environment

uint64_t fnv(const void* data, std::size_t n, uint64_t h = 1469598103934665603ull) {
  const auto* p = static_cast<const unsigned char*>(data);
  for (std::size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 1099511628211ull;
  return h;
}

std::string hex(uint64_t v) {
  char buf[17];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(v));
  return buf;
}

uint32_t bigEndian32(const unsigned char* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// The trailer's fields, written and read in order.
struct Writer {
  std::string out;
  void raw(const void* p, std::size_t n) { out.append(static_cast<const char*>(p), n); }
  void u32(uint32_t v) { raw(&v, 4); }
  void i64(int64_t v) { raw(&v, 8); }
  void text(const std::string& s) {
    u32(uint32_t(s.size()));
    out += s;
  }
};

struct Reader {
  const char* p;
  std::size_t left;
  bool ok = true;
  bool raw(void* d, std::size_t n) {
    if (!ok || n > left) return ok = false;
    std::memcpy(d, p, n);
    p += n, left -= n;
    return true;
  }
  uint32_t u32() {
    uint32_t v = 0;
    raw(&v, 4);
    return v;
  }
  int64_t i64() {
    int64_t v = 0;
    raw(&v, 8);
    return v;
  }
  std::string text() {
    uint32_t n = u32();
    if (!ok || n > left) {
      ok = false;
      return {};
    }
    std::string s(p, n);
    p += n, left -= n;
    return s;
  }
};

bool readAll(int fd, void* dst, std::size_t n, off_t at) {
  char* d = static_cast<char*>(dst);
  while (n > 0) {
    ssize_t got = ::pread(fd, d, n, at);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    d += got, n -= std::size_t(got), at += got;
  }
  return true;
}

bool writeAll(int fd, const std::string& s) {
  const char* p = s.data();
  std::size_t n = s.size();
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w, n -= std::size_t(w);
  }
  return true;
}

struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

// What the provider knows of a copy besides its tables, then the digest of
// each of the image's pages (the trailer's own digest covers them).
std::string describe(const std::string& key, uint32_t pageSize, const std::vector<uint64_t>& pageDigests,
                     int jetVersion, int indexCount, const std::vector<TableInfo>& tables,
                     const std::vector<std::string>& indexed) {
  Writer w;
  w.text(key);
  w.u32(pageSize);
  w.u32(uint32_t(pageDigests.size()));
  w.u32(uint32_t(jetVersion));
  w.u32(uint32_t(indexCount));
  w.u32(uint32_t(tables.size()));
  for (const auto& t : tables) {
    w.text(t.name);
    w.i64(t.rowCount);
    w.u32(uint32_t(t.columns.size()));
    for (const auto& c : t.columns) {
      w.text(c.name);
      w.u32(uint32_t(c.type));
      w.u32(uint32_t(c.size));
    }
  }
  w.u32(uint32_t(indexed.size()));
  for (const auto& s : indexed) w.text(s);
  w.raw(pageDigests.data(), pageDigests.size() * 8);
  return w.out;
}

std::vector<uint64_t> digestPages(const unsigned char* image, std::size_t size, uint32_t pageSize) {
  std::vector<uint64_t> out(size / pageSize);
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = pageDigest(image + i * pageSize, pageSize);
  return out;
}

// The cache folder itself, never a link to another: a descriptor of the
// folder, or -1 when it is missing, not a folder, a symbolic link or not the
// user's own.
int openCacheFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st{};
  if (::fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Entries are named "lib-*.sqlite"; temporaries ".lib-*.tmp".
bool isEntry(const std::string& name) {
  return name.rfind("lib-", 0) == 0 && name.size() > 11 && name.compare(name.size() - 7, 7, ".sqlite") == 0;
}
bool isTemporary(const std::string& name) {
  return name.rfind(".lib-", 0) == 0 && name.size() > 9 && name.compare(name.size() - 4, 4, ".tmp") == 0;
}

// Removes the least recently used entries until the folder is within the
// limit, never `keep`; temporaries older than an hour were left by a crash.
void evict(const std::string& folder, const std::string& keep) {
  struct Entry {
    fs::path path;
    uint64_t size;
    fs::file_time_type used;
  };
  std::vector<Entry> entries;
  uint64_t total = 0;
  std::error_code ec;
  const auto now = fs::file_time_type::clock::now();
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    std::error_code e2;
    const auto used = it->last_write_time(e2);
    if (e2) continue;
    if (isTemporary(name)) {
      if (it->is_symlink(e2)) continue;
      if (now - used > std::chrono::hours(1)) fs::remove(it->path(), e2);
      continue;
    }
    // An entry is a file of its own; a link (to anything) is never counted or
    // removed here.
    if (!isEntry(name) || !it->is_regular_file(e2) || it->is_symlink(e2)) continue;
    const uint64_t size = it->file_size(e2);
    if (e2) continue;
    entries.push_back({it->path(), size, used});
    total += size;
  }
  const uint64_t limit = libraryCacheLimit();
  if (total <= limit) return;
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.used < b.used; });
  for (const auto& e : entries) {
    if (total <= limit) break;
    if (e.path == fs::path(keep)) continue;
    std::error_code e2;
    if (fs::remove(e.path, e2)) total -= e.size;
  }
}

// The tables upper layers derive, and the table that tells which versions an
// entry holds.
std::mutex derivedLock;
std::vector<DerivedTable>& derivedTables() {
  static std::vector<DerivedTable> tables;
  return tables;
}
constexpr char kDerivedVersions[] = "velmora_derived";

bool run(sqlite3* engine, const std::string& sql) {
  return sqlite3_exec(engine, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

std::string quotedName(const std::string& name) {
  std::string out = "\"";
  for (char c : name) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

}  // namespace

void registerDerivedTable(DerivedTable table) {
  const std::lock_guard<std::mutex> held(derivedLock);
  for (DerivedTable& t : derivedTables())
    if (t.name == table.name) {
      t = std::move(table);
      return;
    }
  derivedTables().push_back(std::move(table));
}

int derivedTableVersion(Database& db, const std::string& name) {
  sqlite3_stmt* st = nullptr;
  int version = 0;
  if (sqlite3_prepare_v2(db.sqlite(), "SELECT version FROM velmora_derived WHERE name=?1", -1, &st, nullptr) ==
      SQLITE_OK) {
    sqlite3_bind_text(st, 1, name.c_str(), int(name.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(st) == SQLITE_ROW) version = sqlite3_column_int(st, 0);
  }
  sqlite3_finalize(st);
  return version;
}

void setLibraryCacheEnabled(bool on) { enabledState = on ? 1 : 0; }

bool libraryCacheEnabled() {
  int s = enabledState.load();
  if (s < 0) {
    const char* v = std::getenv("VELMORA_NO_CACHE");
    s = v && *v && std::strcmp(v, "0") != 0 ? 0 : 1;
    enabledState = s;
  }
  return s == 1;
}

std::string libraryCacheFolder() {
  // A relative XDG_CACHE_HOME is invalid and ignored, as the base directory
  // rules say.
  const char* xdg = std::getenv("XDG_CACHE_HOME");
  if (xdg && xdg[0] == '/') return std::string(xdg) + "/velmora";
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return std::string(home) + "/.cache/velmora";
  return {};
}

void setLibraryCacheLimit(uint64_t bytes) { limitBytes = bytes; }

bool resealLibraryCacheEntry(const std::string& file) {
  std::string bytes;
  {
    Fd f;
    f.fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st{};
    if (f.fd < 0 || ::fstat(f.fd, &st) != 0 || std::size_t(st.st_size) < kFooter) return false;
    bytes.resize(std::size_t(st.st_size));
    if (!readAll(f.fd, bytes.data(), bytes.size(), 0)) return false;
  }
  char* footer = bytes.data() + bytes.size() - kFooter;
  uint64_t imageSize;
  uint32_t payloadSize;
  std::memcpy(&imageSize, footer, 8);
  std::memcpy(&payloadSize, footer + 8, 4);
  if (std::memcmp(footer + 20, kMagic, 8) != 0 || imageSize + payloadSize + kFooter != bytes.size()) return false;
  char* payload = bytes.data() + imageSize;
  Reader r{payload, payloadSize};
  r.text();
  const uint32_t pageSize = r.u32(), pageCount = r.u32();
  if (!r.ok || pageSize < 512 || uint64_t(pageSize) * pageCount != imageSize || r.left < uint64_t(pageCount) * 8)
    return false;
  const std::vector<uint64_t> pages =
      digestPages(reinterpret_cast<const unsigned char*>(bytes.data()), std::size_t(imageSize), pageSize);
  std::memcpy(payload + payloadSize - pages.size() * 8, pages.data(), pages.size() * 8);
  const uint64_t h = pageDigest(reinterpret_cast<const unsigned char*>(payload), payloadSize);
  std::memcpy(footer + 12, &h, 8);
  Fd f;
  f.fd = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
  return f.fd >= 0 && ::pwrite(f.fd, bytes.data(), bytes.size(), 0) == ssize_t(bytes.size());
}

uint64_t libraryCacheLimit() {
  if (uint64_t b = limitBytes.load()) return b;
  const char* v = std::getenv("VELMORA_CACHE_LIMIT_MB");
  if (v && *v) {
    char* end = nullptr;
    const unsigned long long mb = std::strtoull(v, &end, 10);
    if (end && !*end && mb > 0 && mb < (1ull << 40)) return uint64_t(mb) << 20;
  }
  return kDefaultLimit;
}

LibraryCache::LibraryCache(const std::string& path, int fd, const struct stat& st) {
  if (!libraryCacheEnabled()) return;
  const std::string folder = libraryCacheFolder();
  if (folder.empty()) return;
  std::error_code ec;
  fs::path full = fs::weakly_canonical(fs::absolute(path, ec), ec);
  if (ec) return;
  // The header pages (Jet's header, the first table definitions) and the last
  // page: what an edit of the library is bound to change besides size and time.
  std::vector<unsigned char> head(std::size_t(std::min<off_t>(st.st_size, 4 * 4096)));
  std::vector<unsigned char> tail(std::size_t(std::min<off_t>(st.st_size, 4096)));
  if (!readAll(fd, head.data(), head.size(), 0) ||
      !readAll(fd, tail.data(), tail.size(), st.st_size - off_t(tail.size())))
    return;
  const uint64_t pages = fnv(tail.data(), tail.size(), fnv(head.data(), head.size()));
  // Beside the size and the modification time (which unpacking, cp -p and
  // touch -r put back), what no copy or edit keeps: the file's identity
  // (device, inode) and its change time, which the system sets at every
  // write and which no call can set back. Times to the nanosecond.
  auto time = [](const timespec& t) { return std::to_string(t.tv_sec) + "." + std::to_string(t.tv_nsec); };
  key_ = std::string(VELMORA_PROVIDER_STAMP) + "\n" + full.string() + "\n" + std::to_string(st.st_size) + "\n" +
         time(st.st_mtim) + "\n" + time(st.st_ctim) + "\n" + std::to_string(st.st_dev) + ":" +
         std::to_string(st.st_ino) + "\n" + hex(pages);
  file_ = folder + "/lib-" + hex(fnv(full.string().data(), full.string().size())) + ".sqlite";
}

bool LibraryCache::load(Database& db) {
  if (file_.empty() || !attach(db)) return false;
  // An entry that holds another version of a registered table is made
  // afresh by the import (the old table's pages would stay in it); one
  // written before a table was registered gets the table now, and is
  // written anew with it.
  if (outdated(db)) {
    db.db_.reset();
    db.tables_.clear();
    db.indexed_.clear();
    db.indexCount_ = 0;
    db.analyzed_ = false;
    db.createEngine();
    return false;
  }
  if (derive(db)) persist(db);
  return true;
}

bool LibraryCache::outdated(Database& db) {
  const std::lock_guard<std::mutex> held(derivedLock);
  for (const DerivedTable& t : derivedTables()) {
    const int version = derivedTableVersion(db, t.name);
    if (version != 0 && version != t.version) return true;
  }
  return false;
}

namespace {

// A derived table's build is part of the import: a stop, or another open
// taking the library over, ends the statement the build is running.
int deriveStopAsked(void* stops) {
  return importStopAsked(*static_cast<const ImportStops*>(stops));
}

struct DeriveStops {
  DeriveStops(sqlite3* engine, const ImportStops& stops) : engine_(engine), stops_(stops) {
    if (stops_.stop || stops_.givenWay) sqlite3_progress_handler(engine_, 1000, &deriveStopAsked, &stops_);
  }
  ~DeriveStops() { sqlite3_progress_handler(engine_, 0, nullptr, nullptr); }
  DeriveStops(const DeriveStops&) = delete;
  DeriveStops& operator=(const DeriveStops&) = delete;
  sqlite3* engine_;
  ImportStops stops_;
};

}  // namespace

bool LibraryCache::derive(Database& db) {
  std::vector<DerivedTable> tables;
  {
    const std::lock_guard<std::mutex> held(derivedLock);
    tables = derivedTables();
  }
  sqlite3* engine = db.db_.get();
  bool built = false;
  const ImportStops stops = importStops();
  for (const DerivedTable& t : tables) {
    if (!t.build || derivedTableVersion(db, t.name) == t.version) continue;
    checkImportStop(stops);
    // One transaction per table: a build that fails leaves nothing of it.
    if (!run(engine, std::string("SAVEPOINT derive; CREATE TABLE IF NOT EXISTS ") + kDerivedVersions +
                         "(name TEXT PRIMARY KEY, version INTEGER NOT NULL); DROP TABLE IF EXISTS " +
                         quotedName(t.name)))
      continue;
    bool good = false;
    try {
      {
        const DeriveStops ending(engine, stops);
        t.build(db);
      }
      // A build whose statements the stop ended may have taken that for an
      // end of rows: what it made is not kept.
      checkImportStop(stops);
      sqlite3_stmt* st = nullptr;
      good = sqlite3_prepare_v2(engine, "INSERT OR REPLACE INTO velmora_derived(name, version) VALUES(?1, ?2)", -1,
                                &st, nullptr) == SQLITE_OK;
      if (good) {
        sqlite3_bind_text(st, 1, t.name.c_str(), int(t.name.size()), SQLITE_TRANSIENT);
        sqlite3_bind_int(st, 2, t.version);
        good = sqlite3_step(st) == SQLITE_DONE;
      }
      sqlite3_finalize(st);
    } catch (...) {
      good = false;
    }
    if (good && run(engine, "RELEASE derive")) {
      built = true;
    } else {
      // (The copy keeps no journal, so the table is dropped rather than
      // rolled back.)
      run(engine, "ROLLBACK TO derive");
      run(engine, "RELEASE derive");
      run(engine, "DROP TABLE IF EXISTS " + quotedName(t.name));
      checkImportStop(stops);  // a build the stop ended: the import ends too
    }
  }
  return built;
}

bool LibraryCache::attach(Database& db) {
  Fd dir;
  dir.fd = openCacheFolder(fs::path(file_).parent_path().string());
  if (dir.fd < 0) return false;
  Fd f;
  f.fd = ::openat(dir.fd, fs::path(file_).filename().c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (f.fd < 0) return false;
  struct stat st{};
  if (::fstat(f.fd, &st) != 0 || !S_ISREG(st.st_mode) || std::size_t(st.st_size) < kFooter + 512) return false;
  const std::size_t fileSize = std::size_t(st.st_size);

  // The trailer: magic, sizes, the digest of what it says, the key.
  char footer[kFooter];
  if (!readAll(f.fd, footer, kFooter, off_t(fileSize - kFooter)) || std::memcmp(footer + 20, kMagic, 8) != 0)
    return false;
  uint64_t imageSize, payloadHash;
  uint32_t payloadSize;
  std::memcpy(&imageSize, footer, 8);
  std::memcpy(&payloadSize, footer + 8, 4);
  std::memcpy(&payloadHash, footer + 12, 8);
  if (imageSize < 512 || imageSize % 512 != 0 || imageSize + payloadSize + kFooter != fileSize) return false;
  std::string payload(payloadSize, '\0');
  if (!readAll(f.fd, payload.data(), payloadSize, off_t(imageSize)) ||
      pageDigest(reinterpret_cast<const unsigned char*>(payload.data()), payload.size()) != payloadHash)
    return false;
  Reader r{payload.data(), payload.size()};
  if (r.text() != key_) return false;  // the library has changed, or another took its name
  const uint32_t pageSize = r.u32(), pageCount = r.u32();
  const int jetVersion = int(r.u32());
  const int indexCount = int(r.u32());
  std::vector<TableInfo> tables(std::min<uint32_t>(r.u32(), 65536));
  for (auto& t : tables) {
    if (!r.ok) return false;
    t.name = r.text();
    t.rowCount = long(r.i64());
    t.columns.resize(std::min<uint32_t>(r.u32(), 4096));
    for (auto& c : t.columns) {
      c.name = r.text();
      c.type = JetType(std::min<uint32_t>(r.u32(), uint32_t(JetType::Unknown)));
      c.size = int(r.u32());
    }
  }
  std::vector<std::string> indexed(std::min<uint32_t>(r.u32(), 1u << 20));
  for (auto& s : indexed) s = r.text();
  if (!r.ok || pageSize < 512 || uint64_t(pageSize) * pageCount != imageSize || r.left != uint64_t(pageCount) * 8 ||
      jetVersion != db.jetVersion_)
    return false;
  std::vector<uint64_t> pageDigests(pageCount);
  r.raw(pageDigests.data(), r.left);

  // The database header: SQLite's, of this format, as long as the image.
  unsigned char header[100];
  if (!readAll(f.fd, header, sizeof header, 0) || std::memcmp(header, "SQLite format 3", 16) != 0) return false;
  const uint32_t headerPageSize = header[16] == 0 && header[17] == 1 ? 65536u : uint32_t(header[16]) << 8 | header[17];
  if (headerPageSize != pageSize || bigEndian32(header + 28) != pageCount ||
      bigEndian32(header + 24) != bigEndian32(header + 92) ||
      int32_t(bigEndian32(header + 60)) != kLibraryCacheFormat || bigEndian32(header + 68) != kApplicationId)
    return false;

  // Mapped copy-on-write, followed by room for the indexes made later. No
  // page is read here: each is checked against its digest the first time the
  // engine reads it (cache_file.h), so that a damaged entry is rebuilt, never
  // served.
  const std::size_t page = std::size_t(::sysconf(_SC_PAGESIZE));
  const std::size_t mapped = (fileSize + page - 1) / page * page;
  const std::size_t room = std::max<std::size_t>(std::size_t(64) << 20, std::size_t(imageSize / 2)) / page * page;
  const std::size_t total = mapped + room;
  void* base = ::mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (base == MAP_FAILED) return false;
  if (::mmap(base, fileSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_FIXED, f.fd, 0) == MAP_FAILED) {
    ::munmap(base, total);
    return false;
  }
  auto image = std::make_shared<CacheImage>(base, total, std::size_t(imageSize), pageSize, std::move(pageDigests),
                                            file_, st.st_dev, st.st_ino);

  // A new engine on the entry; `db` keeps its own until this one is good.
  SqliteConnection engine;
  try {
    engine = db.makeEngine(image);
  } catch (const Error&) {
    return false;
  }
  image.reset();  // held by the engine's file from now on
  // Every table the trailer names is in the schema (this also reads the
  // schema, which fails on a damaged one).
  bool good = true;
  for (std::size_t i = 0; good && i < tables.size(); ++i) {
    sqlite3_stmt* q = nullptr;
    good = sqlite3_prepare_v2(engine.get(), "SELECT 1 FROM sqlite_schema WHERE type='table' AND name=?1", -1, &q,
                              nullptr) == SQLITE_OK;
    if (good) {
      sqlite3_bind_text(q, 1, tables[i].name.c_str(), -1, SQLITE_TRANSIENT);
      good = sqlite3_step(q) == SQLITE_ROW;
    }
    sqlite3_finalize(q);
  }
  if (good) good = run(engine.get(), "PRAGMA mmap_size=2147418112");
  if (!good) return false;
  db.db_ = std::move(engine);
  db.tables_ = std::move(tables);
  db.indexed_ = std::move(indexed);
  db.indexCount_ = indexCount;
  db.analyzed_ = true;
  // Used now: the last to be evicted.
  ::futimens(f.fd, nullptr);
  return true;
}

void LibraryCache::store(Database& db) {
  derive(db);
  if (file_.empty()) return;
  persist(db);
}

void LibraryCache::persist(Database& db) {
  if (!write(db)) return;
  // Served from the entry from now on: the same pages, shared with the
  // system's file cache rather than held on the heap.
  attach(db);
}

bool LibraryCache::write(Database& db) {
  const fs::path folder = fs::path(file_).parent_path();
  std::error_code ec;
  fs::create_directories(folder.parent_path(), ec);
  if (ec) return false;
  ::mkdir(folder.c_str(), 0700);
  Fd dir;
  dir.fd = openCacheFolder(folder.string());
  if (dir.fd < 0) return false;
  ::fchmod(dir.fd, 0700);

  sqlite3* engine = db.db_.get();
  int64_t pages = 0, pageSize = 0;
  {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(engine, "SELECT page_count, page_size FROM pragma_page_count, pragma_page_size", -1,
                           &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW) {
      pages = sqlite3_column_int64(st, 0);
      pageSize = sqlite3_column_int64(st, 1);
    }
    sqlite3_finalize(st);
  }
  if (pages <= 0 || uint64_t(pages * pageSize) > libraryCacheLimit()) return false;
  const std::string stamp = "PRAGMA user_version=" + std::to_string(kLibraryCacheFormat) +
                            "; PRAGMA application_id=" + std::to_string(kApplicationId);
  if (sqlite3_exec(engine, stamp.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) return false;

  static std::atomic<unsigned> counter{0};
  const std::string name = fs::path(file_).filename().string();
  const std::string temp = (folder / ("." + name.substr(0, name.size() - 7) + "." + std::to_string(::getpid()) +
                                      "." + std::to_string(counter++) + ".tmp"))
                               .string();
  struct Remove {
    std::string path;
    ~Remove() {
      if (!path.empty()) ::unlink(path.c_str());
    }
  } cleanup{temp};

  // The pages as they are, by SQLite's backup (cheaper than VACUUM INTO:
  // bench/cache), into a new file.
  ::unlink(temp.c_str());
  sqlite3* out = nullptr;
  bool good = sqlite3_open_v2(temp.c_str(), &out, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) == SQLITE_OK;
  if (good)
    good = sqlite3_exec(out, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF", nullptr, nullptr, nullptr) ==
           SQLITE_OK;
  if (good) {
    sqlite3_backup* b = sqlite3_backup_init(out, "main", engine, "main");
    good = b && sqlite3_backup_step(b, -1) == SQLITE_DONE;
    if (b) good = sqlite3_backup_finish(b) == SQLITE_OK && good;
  }
  if (out) good = sqlite3_close(out) == SQLITE_OK && good;
  if (!good) return false;

  // The trailer, then to disk and into place.
  Fd f;
  f.fd = ::open(temp.c_str(), O_RDWR | O_APPEND | O_CLOEXEC | O_NOFOLLOW);
  struct stat st{};
  if (f.fd < 0 || ::fstat(f.fd, &st) != 0 || st.st_size != pages * pageSize) return false;
  std::vector<uint64_t> pageDigests;
  {
    void* image = ::mmap(nullptr, std::size_t(st.st_size), PROT_READ, MAP_SHARED, f.fd, 0);
    if (image == MAP_FAILED) return false;
    pageDigests = digestPages(static_cast<const unsigned char*>(image), std::size_t(st.st_size), uint32_t(pageSize));
    ::munmap(image, std::size_t(st.st_size));
  }
  const std::string payload =
      describe(key_, uint32_t(pageSize), pageDigests, db.jetVersion_, db.indexCount_, db.tables_, db.indexed_);
  Writer footer;
  footer.i64(int64_t(st.st_size));
  footer.u32(uint32_t(payload.size()));
  const uint64_t h = pageDigest(reinterpret_cast<const unsigned char*>(payload.data()), payload.size());
  footer.raw(&h, 8);
  footer.raw(kMagic, 8);
  if (!writeAll(f.fd, payload + footer.out) || ::fsync(f.fd) != 0 || ::close(f.fd) != 0) {
    f.fd = -1;
    return false;
  }
  f.fd = -1;
  if (::rename(temp.c_str(), file_.c_str()) != 0) return false;
  cleanup.path.clear();
  evict(folder.string(), file_);
  return true;
}

}  // namespace ado
