#include "platform/database/jet_database.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "common/dates.h"
#include "common/program_folder.h"
#include "common/text_case.h"
#include "platform/database/jet_reader.h"
#include "platform/database/jet_sql.h"
#include "platform/database/import_flight.h"
#include "platform/database/library_cache.h"

namespace ado {

const char* jetTypeName(JetType t) {
  switch (t) {
    case JetType::Boolean: return "boolean";
    case JetType::Byte: return "byte";
    case JetType::Integer: return "integer";
    case JetType::Long: return "long";
    case JetType::Currency: return "currency";
    case JetType::Single: return "float";
    case JetType::Double: return "double";
    case JetType::DateTime: return "datetime";
    case JetType::Binary: return "binary";
    case JetType::Text: return "text";
    case JetType::Ole: return "ole";
    case JetType::Memo: return "memo";
    case JetType::Guid: return "repid";
    case JetType::Numeric: return "numeric";
    case JetType::Unknown: break;
  }
  return "unknown";
}

namespace {

// Declared types of the SQLite copy. Each names the Jet type first (so a result
// column can be traced back to it) and ends in a word that gives SQLite the
// right affinity.
const char* declaredType(JetType t) {
  switch (t) {
    case JetType::Boolean: return "BOOLEAN INT";
    case JetType::Byte: return "BYTE INT";
    case JetType::Integer: return "SHORT INT";
    case JetType::Long: return "LONG INT";
    // No affinity: amounts are kept as bound (see currencyUnitsOf).
    case JetType::Currency: return "CURRENCY BLOB";
    case JetType::Single: return "SINGLE REAL";
    case JetType::Double: return "DOUBLE REAL";
    case JetType::DateTime: return "DATETIME REAL";
    case JetType::Numeric: return "DECIMAL REAL";
    // Text sorts as on a Chinese system and compares ignoring ASCII case
    // (kTextCollation).
    case JetType::Text: return "TEXT COLLATE JETTEXT";
    case JetType::Memo: return "MEMO TEXT COLLATE JETTEXT";
    case JetType::Guid: return "GUID TEXT COLLATE JETTEXT";
    default: return "BLOB";
  }
}

JetType typeFromDecl(const char* decl) {
  if (!decl) return JetType::Unknown;
  auto starts = [&](const char* w) { return sqlite3_strnicmp(decl, w, int(std::strlen(w))) == 0; };
  if (starts("BOOLEAN")) return JetType::Boolean;
  if (starts("BYTE")) return JetType::Byte;
  if (starts("SHORT")) return JetType::Integer;
  if (starts("LONG")) return JetType::Long;
  if (starts("CURRENCY")) return JetType::Currency;
  if (starts("SINGLE")) return JetType::Single;
  if (starts("DOUBLE")) return JetType::Double;
  if (starts("DATETIME")) return JetType::DateTime;
  if (starts("DECIMAL")) return JetType::Numeric;
  if (starts("MEMO")) return JetType::Memo;
  if (starts("GUID")) return JetType::Guid;
  if (starts("TEXT")) return JetType::Text;
  return JetType::Unknown;
}

// Currency is an exact count of 1/10000 units. The copy keeps it as the amount
// (a REAL), so that conditions, sums and arithmetic in statements work on the
// amount as in Jet, as long as the amount converts back to the same units;
// beyond 2^50 units (about 1.1e11) a double no longer does, and those amounts
// are kept as the INTEGER count of units itself. That count is larger than any
// amount kept as REAL, so ordering and comparisons with amounts of the normal
// range stay right.
constexpr int64_t kExactCurrencyUnits = int64_t(1) << 50;

void bindCurrency(sqlite3_stmt* st, int k, int64_t units) {
  if (units >= -kExactCurrencyUnits && units <= kExactCurrencyUnits)
    sqlite3_bind_double(st, k, double(units) / 10000.0);
  else
    sqlite3_bind_int64(st, k, units);
}

int64_t currencyUnitsOf(sqlite3_stmt* st, int i) {
  if (sqlite3_column_type(st, i) == SQLITE_INTEGER) return sqlite3_column_int64(st, i);
  const double scaled = sqlite3_column_double(st, i) * 10000.0;
  if (!(scaled > -9.2e18)) return INT64_MIN;
  if (!(scaled < 9.2e18)) return INT64_MAX;
  return std::llround(scaled);
}

// Sum and Avg of Currency, exact: the amounts are added as counts of units (in
// 128 bits), never as doubles, and the result is kept as the copy keeps an
// amount. The mean is rounded to a unit, half away from zero.
struct CurrencyTotal {
  __int128 units = 0;
  int64_t count = 0;
};

void currencyStep(sqlite3_context* ctx, int, sqlite3_value** argv) {
  auto* total = static_cast<CurrencyTotal*>(sqlite3_aggregate_context(ctx, sizeof(CurrencyTotal)));
  if (!total) return sqlite3_result_error_nomem(ctx);
  switch (sqlite3_value_type(argv[0])) {
    case SQLITE_INTEGER: total->units += sqlite3_value_int64(argv[0]); break;
    case SQLITE_FLOAT: total->units += std::llround(sqlite3_value_double(argv[0]) * 10000.0); break;
    default: return;  // Null
  }
  ++total->count;
}

void currencyFinal(sqlite3_context* ctx) {
  auto* total = static_cast<CurrencyTotal*>(sqlite3_aggregate_context(ctx, 0));
  if (!total || total->count == 0) return sqlite3_result_null(ctx);
  __int128 units = total->units;
  if (sqlite3_user_data(ctx)) {  // the mean
    const __int128 n = total->count;
    const __int128 whole = units / n, rest = units % n;  // rest has the sign of units
    units = whole + (rest * 2 >= n ? 1 : rest * 2 <= -n ? -1 : 0);
  }
  if (units > INT64_MAX || units < INT64_MIN) return sqlite3_result_error(ctx, "Overflow", -1);
  const int64_t u = int64_t(units);
  if (u >= -kExactCurrencyUnits && u <= kExactCurrencyUnits)
    sqlite3_result_double(ctx, double(u) / 10000.0);
  else
    sqlite3_result_int64(ctx, u);
}

std::string quoteIdent(const std::string& s) {
  std::string q = "\"";
  for (char c : s) {
    if (c == '"') q += '"';
    q += c;
  }
  return q + "\"";
}

using common::asciiLower;

bool endsWithId(const std::string& name) {
  return name.size() >= 2 && asciiLower(name.substr(name.size() - 2)) == "id";
}

}  // namespace

// ---------------------------------------------------------------------------
// Dates

using common::daysFromCivil;

DateParts oleDateParts(double ole) {
  DateParts p{1899, 12, 30, 0, 0, 0, 0};
  if (!std::isfinite(ole) || ole > 2958466.0 || ole < -657435.0) return p;
  double whole = std::trunc(ole);
  double frac = std::fabs(ole - whole);
  int64_t ms = int64_t(std::llround(frac * 86400000.0));
  int64_t days = int64_t(whole);
  if (ms >= 86400000) {
    ms -= 86400000;
    days += (ole < 0 ? -1 : 1);
  }
  // civil from days since 1970-01-01
  int64_t z = days + daysFromCivil(1899, 12, 30) + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = unsigned(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t y = int64_t(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  p.year = int(y + (m <= 2));
  p.month = int(m);
  p.day = int(d);
  p.hour = int(ms / 3600000);
  p.minute = int(ms / 60000 % 60);
  p.second = int(ms / 1000 % 60);
  p.millisecond = int(ms % 1000);
  return p;
}

std::string oleDateToIso(double ole) {
  DateParts p = oleDateParts(ole);
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", p.year, p.month, p.day,
                p.hour, p.minute, p.second, p.millisecond);
  return buf;
}

// ---------------------------------------------------------------------------
// Opening

namespace {

ImportProgress& importProgress() {
  static ImportProgress observer;
  return observer;
}

}  // namespace

void setImportProgress(ImportProgress observer) { importProgress() = std::move(observer); }

struct Database::Importer : jet::Sink {
  explicit Importer(Database& db) : db_(db), progress_(importProgress()), stop_(importStopFlag()) {}
  ~Importer() override {
    if (insert_) sqlite3_finalize(insert_);
  }

  void exec(const std::string& sql) {
    char* err = nullptr;
    if (sqlite3_exec(db_.db_, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
      std::string msg = err ? err : "?";
      sqlite3_free(err);
      throw Error(jet::kFail, "Cannot copy the database into memory: " + msg);
    }
  }

  void beginTable(const jet::TableDef& t) override {
    TableInfo info = t.info;
    // Two tables whose names differ only in case cannot both be kept.
    for (const auto& other : db_.tables_)
      if (asciiLower(other.name) == asciiLower(info.name)) info.name += "_" + std::to_string(db_.tables_.size());
    std::string sql = "CREATE TABLE " + quoteIdent(info.name) + " (";
    std::string marks;
    for (std::size_t i = 0; i < info.columns.size(); ++i) {
      if (i) sql += ", ", marks += ",";
      sql += quoteIdent(info.columns[i].name) + " " + declaredType(info.columns[i].type);
      marks += "?";
    }
    sql += ")";
    exec(sql);
    std::string ins = "INSERT INTO " + quoteIdent(info.name) + " VALUES (" + marks + ")";
    if (sqlite3_prepare_v2(db_.db_, ins.c_str(), -1, &insert_, nullptr) != SQLITE_OK)
      throw Error(jet::kFail, std::string("Cannot copy the database into memory: ") + sqlite3_errmsg(db_.db_));
    db_.tables_.push_back(std::move(info));
    indexes_ = t.indexes;
    rows_ = 0;
  }

  void row(const std::vector<jet::Cell>& cells) override {
    checkImportStop(stop_);
    const auto& cols = db_.tables_.back().columns;
    for (std::size_t i = 0; i < cells.size() && i < cols.size(); ++i) {
      const jet::Cell& c = cells[i];
      int k = int(i + 1);
      switch (c.kind) {
        case jet::Cell::Int:
          if (cols[i].type == JetType::Currency)
            bindCurrency(insert_, k, c.i);
          else
            sqlite3_bind_int64(insert_, k, c.i);
          break;
        case jet::Cell::Real: sqlite3_bind_double(insert_, k, c.d); break;
        case jet::Cell::Text:
          sqlite3_bind_text(insert_, k, c.s.data(), int(c.s.size()), SQLITE_STATIC);
          break;
        default: sqlite3_bind_null(insert_, k); break;
      }
    }
    if (sqlite3_step(insert_) != SQLITE_DONE)
      throw Error(jet::kFail, std::string("Cannot copy the database into memory: ") + sqlite3_errmsg(db_.db_));
    sqlite3_reset(insert_);
    ++rows_;
    if (progress_ && ++copied_ % 4096 == 0) progress_(db_.path_, copied_, std::max(total_, copied_));
  }

  void expectRows(uint64_t rows) override {
    total_ = rows;
    if (progress_) progress_(db_.path_, 0, total_);
  }
  // All rows are in.
  void finished() {
    if (progress_) progress_(db_.path_, copied_, copied_);
  }

  void endTable() override {
    sqlite3_finalize(insert_);
    insert_ = nullptr;
    TableInfo& info = db_.tables_.back();
    info.rowCount = rows_;
    // The file's own indexes, then the id and link columns (…ID), which the
    // outline's one-query-per-node lookups and the joins search by.
    for (const auto& ix : indexes_) {
      if (ix.columns.size() == 1) {
        db_.ensureIndex(info.name, info.columns[std::size_t(ix.columns[0])].name);
        continue;
      }
      std::string cols;
      for (int c : ix.columns) {
        if (!cols.empty()) cols += ",";
        cols += quoteIdent(info.columns[std::size_t(c)].name);
      }
      exec("CREATE INDEX " + quoteIdent("ix" + std::to_string(++db_.indexCount_) + "_" + info.name) +
           " ON " + quoteIdent(info.name) + " (" + cols + ")");
    }
    for (const auto& c : info.columns)
      if (endsWithId(c.name) && c.type != JetType::Memo && c.type != JetType::Ole &&
          c.type != JetType::Binary)
        db_.ensureIndex(info.name, c.name);
  }

  Database& db_;
  const ImportProgress progress_;  // as it was when the copy began
  const std::atomic<bool>* const stop_;  // the thread's stop flag, if any
  uint64_t total_ = 0, copied_ = 0;
  sqlite3_stmt* insert_ = nullptr;
  std::vector<jet::IndexDef> indexes_;
  long rows_ = 0;
};

Database::Database() = default;

Database::~Database() {
  if (db_) sqlite3_close_v2(db_);
}

void Database::createEngine() {
  if (sqlite3_open_v2(":memory:", &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                      nullptr) != SQLITE_OK)
    throw Error(jet::kFail, "Cannot create the in-memory database.");
  sqlite3_exec(db_, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; PRAGMA case_sensitive_like=OFF;",
               nullptr, nullptr, nullptr);
  registerJetFunctions(db_);
  sqlite3_create_function(db_, "jet_currency_sum", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, nullptr,
                          currencyStep, currencyFinal);
  sqlite3_create_function(db_, "jet_currency_avg", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, this, nullptr,
                          currencyStep, currencyFinal);
  // Nothing a statement names can reach another database or a file.
  sqlite3_limit(db_, SQLITE_LIMIT_ATTACHED, 0);
  sqlite3_db_config(db_, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 0, nullptr);
  sqlite3_db_config(db_, SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, nullptr);
  sqlite3_db_config(db_, SQLITE_DBCONFIG_ENABLE_VIEW, 0, nullptr);
  sqlite3_db_config(db_, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
}

// Once the copy is complete: defensive mode (no schema writes, no page
// access), for whatever the statement guard might let through.
void Database::seal() { sqlite3_db_config(db_, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr); }

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
  db->jetVersion_ = h.version;
  db->createEngine();
  LibraryCache cache(path, f.fd, st);  // after the password check: the cache never replaces it
  // An import under way on another thread is waited for; its entry is then
  // loaded below.
  ImportFlight flight(mode == ReadMode::CacheOnly ? std::string() : cache.key());
  if (cache.load(*db)) {
    db->seal();
    return db;
  }
  if (mode == ReadMode::CacheOnly) return nullptr;
  Importer imp(*db);
  imp.exec("BEGIN");
  if (mode == ReadMode::Isolated)
    jet::readTablesIsolated(h, path, givenPath, imp);
  else
    jet::readTables(h, path, nullptr, 0, givenPath, imp);
  imp.exec("COMMIT");
  imp.finished();
  checkImportStop(importStopFlag());
  db->analyze();
  checkImportStop(importStopFlag());
  cache.store(*db);
  db->seal();
  return db;
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
  db->analyze();
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
  if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK && index.empty()) analyzed_ = true;
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
  std::string key = asciiLower(t->name) + "\n" + asciiLower(c->name);
  if (std::find(indexed_.begin(), indexed_.end(), key) != indexed_.end()) return true;
  std::string sql = "CREATE INDEX " + quoteIdent("ix" + std::to_string(++indexCount_) + "_" + t->name) +
                    " ON " + quoteIdent(t->name) + " (" + quoteIdent(c->name) + ")";
  if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) return false;
  indexed_.push_back(key);
  // An index made for a statement after the opening gets its figures too.
  if (analyzed_) analyze("ix" + std::to_string(indexCount_) + "_" + t->name);
  return true;
}

// ---------------------------------------------------------------------------
// Statements

namespace {

Error statementError(sqlite3* db, const std::string& statement) {
  std::string msg = sqlite3_errmsg(db);
  auto after = [&](const char* prefix) -> std::string {
    std::size_t n = std::strlen(prefix);
    return msg.compare(0, n, prefix) == 0 ? msg.substr(n) : std::string();
  };
  std::string name;
  if (!(name = after("no such table: ")).empty())
    return Error(-2147217865, "The Microsoft Jet database engine cannot find the input table or query '" +
                                  name + "'.  Make sure it exists and that its name is spelled correctly.");
  if (!(name = after("no such column: ")).empty())
    return Error(-2147217904, "No value given for one or more required parameters.");
  if (!(name = after("ambiguous column name: ")).empty())
    return Error(jet::kFail, "The specified field '" + name +
                                 "' could refer to more than one table listed in the FROM clause of "
                                 "your SQL statement.");
  if (msg.find("syntax error") != std::string::npos || msg.find("incomplete input") != std::string::npos ||
      msg.find("unrecognized token") != std::string::npos)
    return Error(-2147217900, "Syntax error in query expression '" + statement + "'.");
  if (msg == kTypeMismatch) return Error(-2147217913, msg);
  return Error(jet::kFail, msg);
}

Error invalidStatement() {
  return Error(-2147217900, "Invalid SQL statement; expected 'DELETE', 'INSERT', 'PROCEDURE', 'SELECT', or 'UPDATE'.");
}
Error readOnly() { return Error(jet::kFail, "Operation must use an updateable query."); }

// The statement guard: while a statement is prepared, the engine asks for
// every action it would take. One select reading the tables, calling the
// functions Jet has, is all that is allowed; the first refusal is kept to be
// reported as Jet reports such a statement.
struct StatementGuard {
  int refused = 0;   // action code, 0 while nothing was refused
  std::string name;  // the function or table refused

  static int check(void* data, int action, const char* a3, const char* a4, const char*, const char*) {
    auto* g = static_cast<StatementGuard*>(data);
    const char* refusedName = "";
    switch (action) {
      case SQLITE_SELECT: return SQLITE_OK;
      case SQLITE_READ:
        // The engine's own tables are none of Jet's.
        if (!a3 || sqlite3_strnicmp(a3, "sqlite_", 7) != 0) return SQLITE_OK;
        refusedName = a3;
        break;
      case SQLITE_FUNCTION:
        if (a4 && knownFunction(a4)) return SQLITE_OK;
        refusedName = a4 ? a4 : "";
        break;
      default: break;
    }
    if (!g->refused) {
      g->refused = action;
      g->name = refusedName;
    }
    return SQLITE_DENY;
  }

  Error error() const {
    switch (refused) {
      case SQLITE_FUNCTION: return Error(jet::kFail, "no such function: " + name);
      case SQLITE_READ:
        return Error(-2147217865, "The Microsoft Jet database engine cannot find the input table or query '" +
                                      name + "'.  Make sure it exists and that its name is spelled correctly.");
      case SQLITE_INSERT: case SQLITE_UPDATE: case SQLITE_DELETE: case SQLITE_CREATE_TABLE:
      case SQLITE_CREATE_INDEX: case SQLITE_CREATE_VIEW: case SQLITE_CREATE_TRIGGER:
      case SQLITE_CREATE_TEMP_TABLE: case SQLITE_CREATE_TEMP_INDEX: case SQLITE_CREATE_TEMP_VIEW:
      case SQLITE_CREATE_TEMP_TRIGGER: case SQLITE_CREATE_VTABLE: case SQLITE_DROP_TABLE:
      case SQLITE_DROP_INDEX: case SQLITE_DROP_VIEW: case SQLITE_DROP_TRIGGER: case SQLITE_DROP_TEMP_TABLE:
      case SQLITE_DROP_TEMP_INDEX: case SQLITE_DROP_TEMP_VIEW: case SQLITE_DROP_TEMP_TRIGGER:
      case SQLITE_DROP_VTABLE: case SQLITE_ALTER_TABLE: case SQLITE_REINDEX: case SQLITE_ANALYZE:
        return readOnly();
      default: return invalidStatement();  // pragma, attach, transactions, recursive queries, ...
    }
  }
};

// Whether the engine's statement is a select: its first word, past blanks and
// opening brackets.
bool startsWithSelect(const std::string& sql) {
  std::size_t i = 0;
  while (i < sql.size() && (std::isspace(static_cast<unsigned char>(sql[i])) || sql[i] == '(')) ++i;
  return sqlite3_strnicmp(sql.c_str() + i, "select", 6) == 0 &&
         (i + 6 >= sql.size() || !identChar(static_cast<unsigned char>(sql[i + 6])));
}

bool plainName(const char* s) {
  if (!s || !*s || !identStart(static_cast<unsigned char>(*s))) return false;
  for (; *s; ++s)
    if (!identChar(static_cast<unsigned char>(*s)) && *s != ' ') return false;
  return true;
}

Variant valueOf(sqlite3_stmt* st, int i, JetType decl) {
  int cls = sqlite3_column_type(st, i);
  if (cls == SQLITE_NULL || cls == SQLITE_BLOB) return Variant::null();
  if (cls == SQLITE_TEXT)
    return Variant::text(std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, i)),
                                     std::size_t(sqlite3_column_bytes(st, i))));
  switch (decl) {
    case JetType::Boolean: return Variant::boolean(sqlite3_column_int64(st, i) != 0);
    case JetType::Byte: return Variant::byte(uint8_t(sqlite3_column_int64(st, i)));
    case JetType::Integer: return Variant::integer(int16_t(sqlite3_column_int64(st, i)));
    case JetType::Long: return Variant::longInt(int32_t(sqlite3_column_int64(st, i)));
    case JetType::Currency: return Variant::currency(currencyUnitsOf(st, i));
    case JetType::Single: return Variant::single(float(sqlite3_column_double(st, i)));
    case JetType::DateTime: return Variant::date(sqlite3_column_double(st, i));
    case JetType::Double:
    case JetType::Numeric: return Variant::dbl(sqlite3_column_double(st, i));
    default: break;
  }
  if (cls == SQLITE_INTEGER) {
    int64_t v = sqlite3_column_int64(st, i);
    if (v >= INT32_MIN && v <= INT32_MAX) return Variant::longInt(int32_t(v));
    return Variant::dbl(double(v));
  }
  return Variant::dbl(sqlite3_column_double(st, i));
}

}  // namespace

namespace {

// The names a statement compares with "=": "T.col" or "col". Texts in quotes
// and brackets are skipped.
std::vector<std::string> equalityOperands(const std::string& s, std::vector<std::string>& words) {
  std::vector<std::string> found;
  std::string last;  // the name just read, or ""
  const std::size_t n = s.size();
  for (std::size_t i = 0; i < n;) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == '\'' || c == '"') {
      std::size_t j = s.find(char(c), i + 1);
      i = j == std::string::npos ? n : j + 1;
      last.clear();
    } else if (identStart(c)) {
      std::size_t j = i;
      while (j < n && (identChar(static_cast<unsigned char>(s[j])) || s[j] == '.')) ++j;
      last = s.substr(i, j - i);
      words.push_back(last);
      i = j;
    } else if (c == '=') {
      bool plain = i > 0 && s[i - 1] != '<' && s[i - 1] != '>' && s[i - 1] != '!';
      if (plain && !last.empty()) found.push_back(last);
      last.clear();
      ++i;
    } else {
      if (!std::isspace(c)) last.clear();
      ++i;
    }
  }
  return found;
}

}  // namespace

void Database::indexForStatement(const std::string& statement) {
  std::vector<std::string> words;
  std::vector<std::string> operands = equalityOperands(statement, words);
  if (operands.empty()) return;
  std::vector<const TableInfo*> named;
  for (const auto& w : words)
    for (const auto& t : tables_)
      if (asciiLower(t.name) == asciiLower(w) && std::find(named.begin(), named.end(), &t) == named.end())
        named.push_back(&t);
  for (const auto& op : operands) {
    std::size_t dot = op.rfind('.');
    std::string column = dot == std::string::npos ? op : op.substr(dot + 1);
    std::string table = dot == std::string::npos ? "" : asciiLower(op.substr(0, dot));
    for (const TableInfo* t : named) {
      if (!table.empty() && asciiLower(t->name) != table) continue;
      for (const auto& c : t->columns)
        if (asciiLower(c.name) == asciiLower(column) && c.type != JetType::Memo && c.type != JetType::Ole &&
            c.type != JetType::Binary)
          ensureIndex(t->name, c.name);
    }
  }
}

std::vector<std::string> Database::forEachRow(const std::string& statement, const RowHandler& onRow) {
  // A column searched by "=" gets an index the first time: the outline runs one
  // query per node on its parent-link column, and the settings lookups search by
  // table name.
  indexForStatement(statement);
  std::vector<int> currencyItems;
  const std::string exact = currencyAggregates(
      statement,
      [this](const std::string& name) {
        for (const auto& t : tables_)
          for (const auto& c : t.columns)
            if (c.type == JetType::Currency && asciiLower(c.name) == asciiLower(name)) return true;
        return false;
      },
      currencyItems);
  std::string sql = translateJetSql(exact);
  sqlite3_stmt* st = nullptr;
  const char* tail = nullptr;
  StatementGuard check;
  sqlite3_set_authorizer(db_, &StatementGuard::check, &check);
  const int prepared = sqlite3_prepare_v2(db_, sql.c_str(), int(sql.size()), &st, &tail);
  sqlite3_set_authorizer(db_, nullptr, nullptr);
  if (prepared != SQLITE_OK || !st) {
    Error e = check.refused ? check.error()
              : st          ? statementError(db_, statement)
                            : (sqlite3_errcode(db_) == SQLITE_OK ? invalidStatement() : statementError(db_, statement));
    sqlite3_finalize(st);
    throw e;
  }
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> guard(st, sqlite3_finalize);
  while (tail && std::isspace(static_cast<unsigned char>(*tail))) ++tail;
  if (tail && *tail && *tail != ';')
    throw Error(-2147217900, "Characters found after end of SQL statement.");
  if (!sqlite3_stmt_readonly(st)) throw readOnly();
  if (!startsWithSelect(sql)) throw invalidStatement();
  std::vector<std::string> names;
  const int n = sqlite3_column_count(st);
  std::vector<JetType> types(std::size_t(n), JetType::Unknown);
  std::vector<bool> qualified(std::size_t(n), false);
  int expr = 1000;
  for (int i = 0; i < n; ++i) {
    const char* name = sqlite3_column_name(st, i);
    const char* origin = sqlite3_column_origin_name(st, i);
    if (!origin && !plainName(name))
      names.push_back("Expr" + std::to_string(expr++));
    else
      names.push_back(name ? name : "");
    types[std::size_t(i)] = typeFromDecl(sqlite3_column_decltype(st, i));
    if (std::find(currencyItems.begin(), currencyItems.end(), i) != currencyItems.end())
      types[std::size_t(i)] = JetType::Currency;
  }
  // Two fields of the same name from different tables are named, as ADO names
  // them, by table and field ("CLProduct.Name", "Factory.Name").
  for (int i = 0; i < n; ++i) {
    const char* table = sqlite3_column_table_name(st, i);
    if (!table || !sqlite3_column_origin_name(st, i)) continue;
    for (int j = 0; j < n; ++j)
      if (j != i && asciiLower(names[std::size_t(j)]) == asciiLower(names[std::size_t(i)])) {
        const char* other = sqlite3_column_table_name(st, j);
        if (other && asciiLower(other) != asciiLower(table)) {
          qualified[std::size_t(i)] = true;
          break;
        }
      }
  }
  for (int i = 0; i < n; ++i)
    if (qualified[std::size_t(i)]) names[std::size_t(i)] = std::string(sqlite3_column_table_name(st, i)) + "." + names[std::size_t(i)];
  std::vector<Variant> row(static_cast<std::size_t>(n));
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    for (int i = 0; i < n; ++i) row[std::size_t(i)] = valueOf(st, i, types[std::size_t(i)]);
    onRow(row);
  }
  if (rc != SQLITE_DONE) throw statementError(db_, statement);
  return names;
}

ResultSet Database::execute(const std::string& statement) {
  ResultSet rs;
  rs.names = forEachRow(statement, [&rs](std::vector<Variant>& row) {
    for (Variant& v : row) rs.cells.push_back(std::move(v));
    ++rs.rows;
  });
  return rs;
}

}  // namespace ado
