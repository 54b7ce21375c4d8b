#include "price_tools/months/product_keys.h"

#include <sqlite3.h>

#include <map>
#include <memory>
#include <mutex>

#include "common/text_case.h"
#include "platform/database/jet_database.h"
#include "platform/database/library_cache.h"
#include "price_tools/months/matching.h"
#include "price_tools/months/products.h"

namespace price_tools {

namespace {

// Changes with the key's rule (normalised, matchKey) and with the code's.
constexpr int kProductKeyVersion = 2;
constexpr int kMakerBits = 23;

// FNV-1a, 64 bits: the same code in every process and build.
uint64_t digest(const char* p, size_t n) {
  uint64_t h = 1469598103934665603ull;
  for (size_t i = 0; i < n; ++i) h = (h ^ static_cast<unsigned char>(p[i])) * 1099511628211ull;
  return h;
}

// The answer's digest above, the maker's below.
int64_t codeOf(const std::string& answer, const std::string& maker) {
  const uint64_t a = digest(answer.data(), answer.size()) >> 24;  // 40 bits
  const uint64_t m = maker.empty() ? 0 : digest(maker.data(), maker.size()) >> (64 - kMakerBits);
  return static_cast<int64_t>(a << kMakerBits | m);
}

// A product's key is its answer (name, model, unit), a separator and its maker.
int64_t codeOf(std::string_view name, std::string_view model, std::string_view unit, std::string_view factory) {
  const std::string key = matchKeyOf(name, model, unit, factory);
  const std::string maker = normalised(factory);
  return codeOf(key.substr(0, key.size() - maker.size() - 1), maker);
}

int64_t codeOf(const Product& p) { return codeOf(p.name, p.model, p.unit, p.factory); }

void check(sqlite3* engine, int rc, const char* what) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
    throw ado::Error(-2147467259, std::string("product keys: ") + what + ": " + sqlite3_errmsg(engine));
}

// The codes of a library's products, their keys made from the texts as the
// price tools read products (texts as the provider gives them, the maker's
// name by its id).
void buildKeys(ado::Database& db) {
  sqlite3* engine = db.sqlite();
  bool model = false, unit = false, product = false, factory = false;
  for (const ado::TableInfo& t : db.tables()) {
    const std::string name = common::asciiLower(t.name);
    factory = factory || name == "factory";
    if (name != "clproduct") continue;
    product = true;
    for (const ado::ColumnInfo& c : t.columns) {
      model = model || common::asciiLower(c.name) == "model";
      unit = unit || common::asciiLower(c.name) == "unit";
    }
  }
  check(engine,
        sqlite3_exec(engine, "CREATE TABLE velmora_product_keys(rid INTEGER PRIMARY KEY, code INTEGER NOT NULL)",
                     nullptr, nullptr, nullptr),
        "create");
  if (product) {
    std::map<std::string, std::string> factories;
    if (factory)
      db.forEachRow("select ID, Name from Factory",
                    [&](std::vector<ado::Variant>& r) { factories[r[0].toText()] = r[1].toText(); });
    sqlite3_stmt* insert = nullptr;
    check(engine,
          sqlite3_prepare_v2(engine, "INSERT INTO velmora_product_keys(rid, code) VALUES(?1, ?2)", -1, &insert,
                             nullptr),
          "insert");
    const std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> held(insert, sqlite3_finalize);
    std::string statement = "select rowid, Name, FactoryID";
    if (model) statement += ", Model";
    if (unit) statement += ", Unit";
    statement += " from CLProduct";
    Product p;
    db.forEachRow(statement, [&](std::vector<ado::Variant>& r) {
      p.name = r[1].takeText();
      const auto f = factories.find(r[2].toText());
      p.factory = f == factories.end() ? std::string() : f->second;
      size_t next = 3;
      p.model = model ? r[next++].takeText() : std::string();
      p.unit = unit ? r[next++].takeText() : std::string();
      sqlite3_bind_int64(insert, 1, r[0].toInt64());
      sqlite3_bind_int64(insert, 2, codeOf(p));
      check(engine, sqlite3_step(insert), "insert");
      sqlite3_reset(insert);
    });
  }
  check(engine,
        sqlite3_exec(engine, "CREATE INDEX velmora_product_keys_code ON velmora_product_keys(code)", nullptr,
                     nullptr, nullptr),
        "index");
}

std::string rowsWhere(const std::string& condition) {
  return std::string("rowid in (select rid from ") + kProductKeyTable + " where " + condition + ")";
}

}  // namespace

void useProductKeys() {
  static std::once_flag once;
  std::call_once(once, [] { ado::registerDerivedTable({kProductKeyTable, kProductKeyVersion, buildKeys}); });
}

bool hasProductKeys(ado::Database& db) { return ado::derivedTableVersion(db, kProductKeyTable) == kProductKeyVersion; }

int64_t keyCode(const Product& p) { return p.keyCode >= 0 ? p.keyCode : codeOf(p); }

int64_t keyCodeOf(std::string_view name, std::string_view model, std::string_view unit, std::string_view factory) {
  return codeOf(name, model, unit, factory);
}

std::pair<int64_t, int64_t> answerCodes(const std::string& answer) {
  const int64_t low = codeOf(answer, std::string());
  return {low, low | ((int64_t(1) << kMakerBits) - 1)};
}

std::string keyCondition(int64_t code) { return rowsWhere("code = " + std::to_string(code)); }

KeyCodeFinder::KeyCodeFinder(ado::Database& db) {
  if (sqlite3_prepare_v2(db.sqlite(), "SELECT code FROM velmora_product_keys WHERE rid = ?1", -1, &st_, nullptr) !=
      SQLITE_OK) {
    sqlite3_finalize(st_);
    st_ = nullptr;
  }
}

KeyCodeFinder::~KeyCodeFinder() { sqlite3_finalize(st_); }

int64_t KeyCodeFinder::operator()(int64_t rid) {
  if (!st_) return -1;
  sqlite3_bind_int64(st_, 1, rid);
  const int64_t code = sqlite3_step(st_) == SQLITE_ROW ? sqlite3_column_int64(st_, 0) : -1;
  sqlite3_reset(st_);
  return code;
}

KeyCodeStream::KeyCodeStream(ado::Database& db) : finder_(db) {
  if (sqlite3_prepare_v2(db.sqlite(), "SELECT rid, code FROM velmora_product_keys ORDER BY rid", -1, &st_, nullptr) !=
      SQLITE_OK) {
    sqlite3_finalize(st_);
    st_ = nullptr;
  }
  row_ = st_ && sqlite3_step(st_) == SQLITE_ROW;
}

KeyCodeStream::~KeyCodeStream() { sqlite3_finalize(st_); }

int64_t KeyCodeStream::operator()(int64_t rid) {
  if (!st_) return -1;
  while (row_ && sqlite3_column_int64(st_, 0) < rid) row_ = sqlite3_step(st_) == SQLITE_ROW;
  if (row_ && sqlite3_column_int64(st_, 0) == rid) {
    const int64_t code = sqlite3_column_int64(st_, 1);
    row_ = sqlite3_step(st_) == SQLITE_ROW;
    return code;
  }
  // Past it already (or not there): looked up on its own.
  return finder_(rid);
}

std::vector<std::pair<int64_t, int64_t>> keyCodes(ado::Database& db) {
  std::vector<std::pair<int64_t, int64_t>> out;
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db.sqlite(), "SELECT rid, code FROM velmora_product_keys ORDER BY rid", -1, &st, nullptr) ==
      SQLITE_OK)
    while (sqlite3_step(st) == SQLITE_ROW) out.emplace_back(sqlite3_column_int64(st, 0), sqlite3_column_int64(st, 1));
  sqlite3_finalize(st);
  return out;
}

}  // namespace price_tools
