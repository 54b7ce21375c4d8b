#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <thread>

#include "common/program_folder.h"
#include "common/text_case.h"
#include "platform/database/jet_database.h"
#include "platform/database/jet_import.h"
#include "platform/database/jet_reader.h"
#include "platform/database/jet_sql.h"
#include "platform/database/jet_types.h"
#include "platform/database/cache_file.h"
#include "platform/database/engine_memory.h"
#include "platform/database/import_flight.h"
#include "platform/database/library_cache.h"

// Opening a library: the file's locks and password, then its copy from the
// library cache or from the file itself; the engine the copy lives in, and
// the indexes and planner's figures made for it.

namespace ado {

using common::asciiLower;

Database::Database() = default;

Database::~Database() = default;

void Database::createEngine() { db_ = makeEngine(); }

SqliteConnection Database::makeEngine(const std::shared_ptr<CacheImage>& image) {
  useEngineMemory();
  sqlite3* engine = nullptr;
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
  const int opened = image ? openCacheImage(image, flags, &engine) : sqlite3_open_v2(":memory:", &engine, flags, nullptr);
  SqliteConnection owned(engine);
  if (opened != SQLITE_OK) throw Error(jet::kFail, "Cannot create the in-memory database.");
  sqlite3_exec(engine, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; PRAGMA case_sensitive_like=OFF;",
               nullptr, nullptr, nullptr);
  registerJetFunctions(engine);
  registerCurrencyAggregates(engine);
  // Nothing a statement names can reach another database or a file.
  sqlite3_limit(engine, SQLITE_LIMIT_ATTACHED, 0);
  sqlite3_db_config(engine, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 0, nullptr);
  sqlite3_db_config(engine, SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, nullptr);
  sqlite3_db_config(engine, SQLITE_DBCONFIG_ENABLE_VIEW, 0, nullptr);
  sqlite3_db_config(engine, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
  return owned;
}

// Once the copy is complete: defensive mode (no schema writes, no page
// access), for whatever the statement guard might let through.
namespace {

// The helper threads a statement's large sort shares its work with (a
// search's hundred thousand rows in the grid's order): one fewer than the
// machine has cores, at most three. An index is built without them: the
// engine's sorter then goes through temporary files and takes longer.
void shareSorts(sqlite3* engine, bool share) {
  const unsigned cores = std::thread::hardware_concurrency();
  const unsigned helpers = share && cores > 1 ? std::min(cores - 1, 3u) : 0u;
  sqlite3_exec(engine, ("PRAGMA threads=" + std::to_string(helpers)).c_str(), nullptr, nullptr, nullptr);
}

}  // namespace

void Database::seal() {
  sqlite3_db_config(db_.get(), SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
  shareSorts(db_.get(), true);
}

namespace {

struct FdGuard {
  int fd = -1;
  ~FdGuard() {
    if (fd >= 0) ::close(fd);
  }
};

// Windows file names are not case-sensitive: "PRO.MDB" copied from there is the
// file the program calls "pro.mdb". The file name is found in any letter case
// by the program's one resolver; the folder is taken as given.
std::string resolveCase(const std::string& path) {
  const std::filesystem::path p(path);
  const std::string folder = p.has_parent_path() ? p.parent_path().string() : std::string(".");
  const auto found = common::resolveIn(folder, p.filename().string());
  return found ? *found : path;
}

}  // namespace

std::shared_ptr<Database> Database::open(const std::string& givenPath, const std::string& password,
                                         ReadMode mode) {
  const std::string path = resolveCase(givenPath);
  FdGuard f;
  f.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (f.fd < 0) {
    if (errno == EACCES || errno == EPERM || errno == ETXTBSY) throw jet::locked(givenPath);
    throw jet::missingFile(givenPath);
  }
  struct stat st{};
  if (::fstat(f.fd, &st) != 0 || !S_ISREG(st.st_mode)) throw jet::missingFile(givenPath);
  // Another program holding the file exclusively (a write lock or flock).
  if (::flock(f.fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK) throw jet::locked(givenPath);
  struct flock fl{};
  fl.l_type = F_RDLCK;
  fl.l_whence = SEEK_SET;
  if (::fcntl(f.fd, F_GETLK, &fl) == 0 && fl.l_type != F_UNLCK) throw jet::locked(givenPath);

  uint8_t page0[4096];
  ssize_t got = ::pread(f.fd, page0, sizeof page0, 0);
  if (got < 0) throw jet::locked(givenPath);
  jet::Header h = jet::inspectHeader(page0, std::size_t(got), std::size_t(st.st_size), givenPath);
  jet::checkPassword(h, password);

  std::shared_ptr<Database> db(new Database);
  db->path_ = givenPath;
  db->password_ = password;
  db->mode_ = mode;
  db->jetVersion_ = h.version;
  db->createEngine();
  LibraryCache cache(path, f.fd, st);  // after the password check: the cache never replaces it
  // An import under way on another thread is waited for (one in the
  // background gives way at once); its entry is then loaded below.
  ImportFlight flight(mode == ReadMode::CacheOnly ? std::string() : cache.key());
  if (cache.load(*db)) {
    db->seal();
    return db;
  }
  if (mode == ReadMode::CacheOnly) return nullptr;
  Timed whole{db->importTimes_.total};
  Importer imp(*db);
  imp.exec("BEGIN");
  if (mode == ReadMode::Isolated)
    jet::readTablesIsolated(h, path, givenPath, imp);
  else
    jet::readTables(h, path, nullptr, 0, givenPath, imp);
  imp.exec("COMMIT");
  imp.finished();
  checkImportStop(importStops());
  {
    Timed t{db->importTimes_.figures};
    imp.writeStatistics();
  }
  checkImportStop(importStops());
  {
    Timed t{db->importTimes_.entry};
    cache.store(*db);
  }
  db->seal();
  return db;
}

bool Database::reloadDamagedEntry() {
  const CacheImage* image = cacheImageOf(db_.get());
  if (!image || !image->damaged()) return false;
  // The entry's file is gone, so the library is imported afresh. The old
  // engine goes then (a statement still open on it, the column reader's,
  // keeps it and its entry until it is finished, and fails).
  std::shared_ptr<Database> fresh = open(path_, password_, mode_ == ReadMode::CacheOnly ? ReadMode::Isolated : mode_);
  jetVersion_ = fresh->jetVersion_;
  tables_ = std::move(fresh->tables_);
  indexed_ = std::move(fresh->indexed_);
  indexCount_ = fresh->indexCount_;
  analyzed_ = fresh->analyzed_;
  db_ = std::move(fresh->db_);
  return true;
}

std::shared_ptr<Database> Database::openBuffer(const void* data, std::size_t size,
                                               const std::string& password, const std::string& name) {
  jet::Header h = jet::inspectHeader(static_cast<const uint8_t*>(data), std::min<std::size_t>(size, 4096),
                                     size, name);
  jet::checkPassword(h, password);
  std::shared_ptr<Database> db(new Database);
  db->path_ = name;
  db->jetVersion_ = h.version;
  db->createEngine();
  Importer imp(*db);
  imp.exec("BEGIN");
  jet::readTables(h, "", data, size, name, imp);
  imp.exec("COMMIT");
  imp.writeStatistics();
  db->seal();
  return db;
}

// Figures for the query planner (rows per table, rows per index key). Without
// them SQLite guesses, and for a search with "like" on a large table it walks
// the ORDER BY column's or the join's index with one table lookup per row, three
// times slower than scanning the table and sorting the matches. Every index is
// also marked "unordered" (used to find rows, never for their order): results
// are always read whole, so walking an index row by row for its order does not
// pay even when the first rows would come sooner.
void Database::analyze(const std::string& index) {
  const std::string target = index.empty() ? std::string() : " " + quoteIdent(index);
  std::string name = "'";
  for (char c : index) name += c == '\'' ? std::string("''") : std::string(1, c);
  const std::string which = index.empty() ? "idx IS NOT NULL" : "idx = " + name + "'";
  const std::string sql = "ANALYZE" + target + "; UPDATE sqlite_stat1 SET stat = stat || ' unordered' WHERE " +
                          which + " AND stat NOT LIKE '% unordered'; ANALYZE sqlite_schema";
  if (sqlite3_exec(db_.get(), sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK && index.empty()) analyzed_ = true;
}

std::string Database::indexKey(const std::string& table, const std::string& column) {
  return asciiLower(table) + "\n" + asciiLower(column);
}

bool Database::ensureIndex(const std::string& table, const std::string& column) {
  const TableInfo* t = nullptr;
  for (const auto& x : tables_)
    if (asciiLower(x.name) == asciiLower(table)) t = &x;
  if (!t) return false;
  const ColumnInfo* c = nullptr;
  for (const auto& x : t->columns)
    if (asciiLower(x.name) == asciiLower(column)) c = &x;
  if (!c) return false;
  const std::string key = indexKey(t->name, c->name);
  if (std::find(indexed_.begin(), indexed_.end(), key) != indexed_.end()) return true;
  std::string sql = "CREATE INDEX " + quoteIdent("ix" + std::to_string(++indexCount_) + "_" + t->name) +
                    " ON " + quoteIdent(t->name) + " (" + quoteIdent(c->name) + ")";
  shareSorts(db_.get(), false);
  const bool made = sqlite3_exec(db_.get(), sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  shareSorts(db_.get(), true);
  if (!made) return false;
  indexed_.push_back(key);
  // An index made for a statement after the opening gets its figures too.
  if (analyzed_) analyze("ix" + std::to_string(indexCount_) + "_" + t->name);
  return true;
}

}  // namespace ado
