#include "price_tools/months/product_keys.h"

#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "common/text_case.h"
#include "platform/database/jet_database.h"
#include "platform/database/library_cache.h"
#include "price_tools/months/matching.h"
#include "price_tools/months/products.h"

namespace price_tools {

namespace {

// Changes with the key's rule (normalised, matchKey), with the code's and
// with what is kept beside it.
constexpr int kProductKeyVersion = 3;
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

// A product's key is its answer (name, model, unit), a separator and its
// maker: the code is the answer's part and the maker's joined.
int64_t answerCodeOf(std::string_view name, std::string_view model, std::string_view unit) {
  std::string key = matchKeyOf(name, model, unit, {});
  key.pop_back();  // the separator before the (empty) maker
  return codeOf(key, std::string());
}

int64_t makerCodeOf(std::string_view factory) {
  const std::string maker = normalised(factory);
  return maker.empty() ? 0 : static_cast<int64_t>(digest(maker.data(), maker.size()) >> (64 - kMakerBits));
}

int64_t codeOf(std::string_view name, std::string_view model, std::string_view unit, std::string_view factory) {
  return answerCodeOf(name, model, unit) | makerCodeOf(factory);
}

int64_t codeOf(const Product& p) { return codeOf(p.name, p.model, p.unit, p.factory); }

// The maker's part of the code of each manufacturer's name met, made once
// per name; the names met last are found again by their place.
class MakerCodes {
 public:
  int64_t operator()(const std::string* name) {
    if (!name) return 0;
    Recent& r = recent_[(reinterpret_cast<uintptr_t>(name) >> 4) % kRecent];
    if (r.name != name) {
      auto [at, added] = codes_.try_emplace(name, 0);
      if (added) at->second = makerCodeOf(*name);
      r = {name, at->second};
    }
    return r.code;
  }

 private:
  static constexpr size_t kRecent = 1021;
  struct Recent {
    const std::string* name = nullptr;
    int64_t code = 0;
  };
  std::vector<Recent> recent_ = std::vector<Recent>(kRecent);
  std::unordered_map<const std::string*, int64_t> codes_;
};

void check(sqlite3* engine, int rc, const char* what) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
    throw ado::Error(-2147467259, std::string("product keys: ") + what + ": " + sqlite3_errmsg(engine));
}

// The kept products' parts: numbers in seven bits a byte, low bits first
// (the high bit set on every byte but the last).
void putNumber(std::string& out, uint64_t v) {
  for (; v >= 0x80; v >>= 7) out += static_cast<char>((v & 0x7F) | 0x80);
  out += static_cast<char>(v);
}

uint64_t zigzag(int64_t v) { return (static_cast<uint64_t>(v) << 1) ^ static_cast<uint64_t>(v >> 63); }
int64_t unzigzag(uint64_t v) { return static_cast<int64_t>(v >> 1) ^ -static_cast<int64_t>(v & 1); }

// A text that is a whole number written plainly: digits, no needless zero,
// at most 18 of them.
bool plainNumber(std::string_view text, uint64_t& n) {
  if (text.empty() || text.size() > 18 || (text[0] == '0' && text.size() > 1)) return false;
  n = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + static_cast<uint64_t>(c - '0');
  }
  return true;
}

// A text of a product: a plain whole number as its number (even), any
// other as its length (odd) and its bytes.
void putText(std::string& out, std::string_view text) {
  uint64_t n = 0;
  if (plainNumber(text, n)) {
    putNumber(out, n << 1);
  } else {
    putNumber(out, (static_cast<uint64_t>(text.size()) << 1) | 1);
    out.append(text);
  }
}

// A price: the low four bits tell what follows. 0 none, 1 why there is none
// (its length and bytes follow), 2 to 14 the scale + 2 with the units
// (zigzag) above them; 15 a value too large for that, its scale and units
// following (zigzag).
enum : uint64_t { kNoPrice = 0, kPriceNote = 1, kWidePrice = 15 };

void putPrice(std::string& out, const std::optional<Decimal>& price, std::string_view note) {
  if (!price) {
    if (note.empty()) {
      putNumber(out, kNoPrice);
    } else {
      putNumber(out, kPriceNote);
      putNumber(out, note.size());
      out.append(note);
    }
    return;
  }
  const uint64_t units = zigzag(price->units());
  if (price->scale() >= 0 && price->scale() <= 12 && units < (uint64_t(1) << 60)) {
    putNumber(out, units << 4 | static_cast<uint64_t>(price->scale() + 2));
  } else {
    putNumber(out, kWidePrice);
    putNumber(out, zigzag(price->scale()));
    putNumber(out, units);
  }
}

// Reads the parts back; every read checks its bounds.
struct PartReader {
  const unsigned char* at;
  const unsigned char* end;
  bool good = true;

  uint64_t number() {
    uint64_t v = 0;
    for (int shift = 0; good; shift += 7) {
      if (at == end || shift > 63) {
        good = false;
        break;
      }
      const unsigned char b = *at++;
      v |= static_cast<uint64_t>(b & 0x7F) << shift;
      if (!(b & 0x80)) break;
    }
    return v;
  }
  std::string_view bytes(uint64_t n) {
    if (!good || n > static_cast<uint64_t>(end - at)) {
      good = false;
      return {};
    }
    const std::string_view out(reinterpret_cast<const char*>(at), static_cast<size_t>(n));
    at += n;
    return out;
  }
  // A text written by putText; a number is written into `buffer`.
  std::string_view text(char (&buffer)[24]) {
    const uint64_t v = number();
    if (v & 1) return bytes(v >> 1);
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, v >> 1).ptr;
    return std::string_view(buffer, static_cast<size_t>(written - buffer));
  }
  std::optional<Decimal> price(std::string_view& note) {
    note = {};
    const uint64_t v = number();
    const uint64_t tag = v & 15;
    if (tag == kNoPrice && v == kNoPrice) return std::nullopt;
    if (tag == kPriceNote && v == kPriceNote) {
      note = bytes(number());
      return std::nullopt;
    }
    if (tag == kWidePrice && v == kWidePrice) {
      const int64_t scale = unzigzag(number());
      const int64_t units = unzigzag(number());
      if (scale < INT32_MIN || scale > INT32_MAX) good = false;
      return Decimal(units, static_cast<int>(scale));
    }
    if (tag < 2 || tag == kWidePrice) good = false;
    return Decimal(unzigzag(v >> 4), static_cast<int>(tag) - 2);
  }
  bool atEnd() const { return good && at == end; }
};

std::string pricePart(const std::string& field) { return "price:" + common::asciiLower(field); }

bool holdsAmounts(ado::JetType t) {
  using J = ado::JetType;
  return t == J::Currency || t == J::Single || t == J::Double || t == J::Numeric;
}

// The rows of the key table, inserted many to a statement: one statement a
// row would take most of the pass.
class KeyInserts {
 public:
  static constexpr int kRows = 64;
  explicit KeyInserts(sqlite3* engine) : engine_(engine) {
    std::string many = "INSERT INTO velmora_product_keys(rid, code) VALUES(?, ?)";
    for (int k = 1; k < kRows; ++k) many += ", (?, ?)";
    sqlite3_stmt* st = nullptr;
    const int rc = sqlite3_prepare_v2(engine, many.c_str(), -1, &st, nullptr);
    manyHeld_.reset(st);
    check(engine, rc, "insert");
    const int rcOne =
        sqlite3_prepare_v2(engine, "INSERT INTO velmora_product_keys(rid, code) VALUES(?1, ?2)", -1, &st, nullptr);
    oneHeld_.reset(st);
    check(engine, rcOne, "insert");
    many_ = manyHeld_.get();
    one_ = oneHeld_.get();
  }

  void add(int64_t rid, int64_t code) {
    rows_[held_++] = {rid, code};
    if (held_ < kRows) return;
    for (int k = 0; k < kRows; ++k) {
      sqlite3_bind_int64(many_, 2 * k + 1, rows_[k].first);
      sqlite3_bind_int64(many_, 2 * k + 2, rows_[k].second);
    }
    check(engine_, sqlite3_step(many_), "insert");
    sqlite3_reset(many_);
    held_ = 0;
  }
  // The rows held back, one by one.
  void flush() {
    for (int k = 0; k < held_; ++k) {
      sqlite3_bind_int64(one_, 1, rows_[k].first);
      sqlite3_bind_int64(one_, 2, rows_[k].second);
      check(engine_, sqlite3_step(one_), "insert");
      sqlite3_reset(one_);
    }
    held_ = 0;
  }

 private:
  using Statement = std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)>;
  sqlite3* engine_;
  Statement manyHeld_{nullptr, sqlite3_finalize}, oneHeld_{nullptr, sqlite3_finalize};
  sqlite3_stmt* many_ = nullptr;
  sqlite3_stmt* one_ = nullptr;
  std::pair<int64_t, int64_t> rows_[kRows];
  int held_ = 0;
};

// The products as they are read, row by row in the copy's order, then
// written in the order of their ids.
class KeptProducts {
 public:
  static constexpr size_t kPartLimit = size_t(1) << 29;
  explicit KeptProducts(size_t prices) : prices_(prices), priceStarts_(prices) {}

  void addRow(uint32_t triple, std::string_view id, std::string_view category, std::string_view factory) {
    rowStarts_.push_back(static_cast<uint32_t>(rows_.size()));
    putNumber(rows_, triple);
    putText(rows_, id);
    putText(rows_, category);
    putText(rows_, factory);
  }
  // Whether the parts stay within what their places can tell (and a blob
  // can hold).
  bool fits() const {
    if (rows_.size() > kPartLimit) return false;
    for (const std::string& p : prices_)
      if (p.size() > kPartLimit) return false;
    return true;
  }
  void addPrice(size_t column, const std::optional<Decimal>& price, std::string_view note) {
    priceStarts_[column].push_back(static_cast<uint32_t>(prices_[column].size()));
    putPrice(prices_[column], price, note);
  }

  // `order[k]` is the row that goes to place k.
  void write(sqlite3* engine, const std::vector<std::string>& priceFields, const std::string& triples,
             size_t tripleCount, const std::vector<int64_t>& answers, const std::vector<uint32_t>& order) {
    check(engine,
          sqlite3_exec(engine,
                       "CREATE TABLE velmora_kept_products(part TEXT PRIMARY KEY, data BLOB NOT NULL) WITHOUT ROWID",
                       nullptr, nullptr, nullptr),
          "create kept");
    sqlite3_stmt* insert = nullptr;
    check(engine,
          sqlite3_prepare_v2(engine, "INSERT INTO velmora_kept_products(part, data) VALUES(?1, ?2)", -1, &insert,
                             nullptr),
          "insert kept");
    const std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> held(insert, sqlite3_finalize);
    auto put = [&](const std::string& part, const std::string& data) {
      sqlite3_bind_text(insert, 1, part.data(), static_cast<int>(part.size()), SQLITE_STATIC);
      sqlite3_bind_blob(insert, 2, data.data(), static_cast<int>(data.size()), SQLITE_STATIC);
      check(engine, sqlite3_step(insert), "insert kept");
      sqlite3_reset(insert);
    };
    std::string head;
    putNumber(head, 1);  // the layout of the parts
    putNumber(head, order.size());
    putNumber(head, tripleCount);
    put("head", head);
    put("texts", triples);
    std::string codes;
    for (const int64_t a : answers) putNumber(codes, static_cast<uint64_t>(a));
    put("answers", codes);
    auto inOrder = [&](const std::string& stream, const std::vector<uint32_t>& starts) {
      std::string out;
      out.reserve(stream.size());
      for (const uint32_t k : order) {
        const size_t from = starts[k], to = k + 1 < starts.size() ? starts[k + 1] : stream.size();
        out.append(stream, from, to - from);
      }
      return out;
    };
    put("rows", inOrder(rows_, rowStarts_));
    rows_ = {};
    rowStarts_ = {};
    for (size_t c = 0; c < priceFields.size(); ++c) {
      put(pricePart(priceFields[c]), inOrder(prices_[c], priceStarts_[c]));
      prices_[c] = {};
      priceStarts_[c] = {};
    }
  }

 private:
  std::string rows_;
  std::vector<uint32_t> rowStarts_;  // where each row's part begins
  std::vector<std::string> prices_;
  std::vector<std::vector<uint32_t>> priceStarts_;
};

// The codes of a library's products, their keys made from the texts as the
// price tools read products (texts as the provider gives them, the maker's
// name by its id); and beside them the products kept for whole reads.
void buildKeys(ado::Database& db) {
  sqlite3* engine = db.sqlite();
  const ado::TableInfo* product = nullptr;
  bool factory = false;
  for (const ado::TableInfo& t : db.tables()) {
    const std::string name = common::asciiLower(t.name);
    factory = factory || name == "factory";
    if (name == "clproduct") product = &t;
  }
  check(engine,
        sqlite3_exec(engine,
                     "DROP TABLE IF EXISTS velmora_kept_products; "
                     "CREATE TABLE velmora_product_keys(rid INTEGER PRIMARY KEY, code INTEGER NOT NULL)",
                     nullptr, nullptr, nullptr),
        "create");
  if (product) {
    const Factories factories = factory ? readFactories(db) : Factories();
    const FactoryNames names(factories);
    // The ids are whole numbers, which the products are put in order by;
    // the columns that hold amounts.
    bool wholeIds = false;
    std::vector<std::string> priceFields;
    for (const ado::ColumnInfo& c : product->columns) {
      if (common::asciiLower(c.name) == "id")
        wholeIds = c.type == ado::JetType::Byte || c.type == ado::JetType::Integer || c.type == ado::JetType::Long;
      if (holdsAmounts(c.type)) priceFields.push_back(c.name);
    }
    enum { Rid, Name, Factory, Model, Unit, Id, Category, Prices };
    std::vector<std::string> columns = {"rowid", "Name", "FactoryID", "Model", "Unit", "ID", "CategoryID"};
    columns.insert(columns.end(), priceFields.begin(), priceFields.end());
    ado::ColumnReader r(db, "CLProduct", columns);
    if (!r.has(Name) || !r.has(Factory))
      throw ado::Error(-2147217904, "No value given for one or more required parameters.");
    bool keeping = wholeIds && r.has(Category);
    KeyInserts inserts(engine);
    // Name, model and unit laid out as a ProductTable keeps them, each
    // distinct three once, with the answer's part of their code.
    std::unordered_map<std::string, uint32_t> tripleIndex;
    std::string triples, packed;
    std::vector<int64_t> answers;
    MakerCodes makers;
    KeptProducts kept(priceFields.size());
    std::vector<std::pair<int64_t, uint32_t>> ids;
    std::string scratch[Prices], priceScratch, note;
    while (r.next()) {
      const std::string_view name = r.toText(Name, scratch[Name]), model = r.toText(Model, scratch[Model]),
                             unit = r.toText(Unit, scratch[Unit]);
      packed.clear();
      for (const std::string_view p : {name, model, unit}) {
        putNumber(packed, p.size());
        packed.append(p);
      }
      auto [at, added] = tripleIndex.try_emplace(packed, static_cast<uint32_t>(answers.size()));
      if (added) {
        triples += packed;
        answers.push_back(answerCodeOf(name, model, unit));
      }
      const uint32_t triple = at->second;
      const std::string_view factoryId = r.toText(Factory, scratch[Factory]);
      const int64_t code = answers[triple] | makers(names.ofCell(r, Factory, factoryId));
      inserts.add(r.integer(Rid), code);
      if (!keeping) continue;
      // In the order of their ids as LibraryFile::table puts them: by
      // number, the empty ones first, equal ones as the copy holds them.
      const std::string_view id = r.toText(Id, scratch[Id]);
      int64_t v = INT64_MIN;
      if (!id.empty()) {
        const auto [end, ec] = std::from_chars(id.data(), id.data() + id.size(), v);
        keeping = ec == std::errc() && end == id.data() + id.size() && v != INT64_MIN;
      }
      ids.emplace_back(v, static_cast<uint32_t>(ids.size()));
      kept.addRow(triple, id, r.toText(Category, scratch[Category]), factoryId);
      for (size_t c = 0; c < priceFields.size(); ++c) {
        const std::optional<Decimal> price = cellPrice(r, Prices + c, priceScratch, note);
        kept.addPrice(c, price, note);
      }
      keeping = keeping && kept.fits();
    }
    inserts.flush();
    if (keeping) {
      std::sort(ids.begin(), ids.end());
      std::vector<uint32_t> order(ids.size());
      for (size_t k = 0; k < ids.size(); ++k) order[k] = ids[k].second;
      ids = {};
      // The codes do without them: a table that cannot be written is left out.
      try {
        kept.write(engine, priceFields, triples, answers.size(), answers, order);
      } catch (const ado::Error&) {
        sqlite3_exec(engine, "DROP TABLE IF EXISTS velmora_kept_products", nullptr, nullptr, nullptr);
      }
    }
  }
  check(engine,
        sqlite3_exec(engine, "CREATE INDEX velmora_product_keys_code ON velmora_product_keys(code)", nullptr,
                     nullptr, nullptr),
        "index");
}

// One part of the kept products, read while the object lives.
class Part {
 public:
  Part(sqlite3* engine, const std::string& name) {
    if (sqlite3_prepare_v2(engine, "SELECT data FROM velmora_kept_products WHERE part = ?1", -1, &st_, nullptr) !=
        SQLITE_OK)
      return;
    sqlite3_bind_text(st_, 1, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(st_) != SQLITE_ROW) return;
    const auto* data = static_cast<const unsigned char*>(sqlite3_column_blob(st_, 0));
    const int size = sqlite3_column_bytes(st_, 0);
    if (!data && size > 0) return;
    found_ = true;
    data_ = data;
    size_ = static_cast<size_t>(size);
  }
  ~Part() { sqlite3_finalize(st_); }
  Part(const Part&) = delete;
  Part& operator=(const Part&) = delete;
  bool found() const { return found_; }
  PartReader reader() const { return {data_, data_ + size_}; }
  std::string_view bytes() const { return {reinterpret_cast<const char*>(data_), size_}; }

 private:
  sqlite3_stmt* st_ = nullptr;
  bool found_ = false;
  const unsigned char* data_ = nullptr;
  size_t size_ = 0;
};

bool addKeptProducts(sqlite3* engine, const std::string& priceField, ProductTable& out) {
  const Part head(engine, "head");
  if (!head.found()) return false;
  PartReader h = head.reader();
  const uint64_t layout = h.number(), count = h.number(), tripleCount = h.number();
  if (!h.atEnd() || layout != 1 || count > UINT32_MAX || tripleCount > count) return false;
  const Part prices(engine, pricePart(priceField));
  if (!prices.found()) return false;
  // Each three texts where the table keeps them, with the answer's part of
  // their code.
  std::vector<const char*> texts(static_cast<size_t>(tripleCount));
  std::vector<int64_t> answers(texts.size());
  {
    const Part packed(engine, "texts"), codes(engine, "answers");
    if (!packed.found() || !codes.found()) return false;
    const char* base = out.keepTexts(packed.bytes());
    PartReader t = packed.reader(), c = codes.reader();
    for (size_t k = 0; k < texts.size(); ++k) {
      texts[k] = base + (t.at - reinterpret_cast<const unsigned char*>(packed.bytes().data()));
      for (int part = 0; part < 3; ++part) t.bytes(t.number());
      answers[k] = static_cast<int64_t>(c.number());
    }
    if (!t.atEnd() || !c.atEnd()) return false;
  }
  const Part rows(engine, "rows");
  if (!rows.found()) return false;
  const FactoryNames names(out.factories);
  MakerCodes makers;
  PartReader r = rows.reader(), p = prices.reader();
  out.reserve(static_cast<size_t>(count));
  char idText[24], categoryText[24], factoryText[24];
  for (uint64_t k = 0; k < count && r.good && p.good; ++k) {
    const uint64_t triple = r.number();
    const std::string_view id = r.text(idText), category = r.text(categoryText);
    // The manufacturer by its number where it was written as one.
    const uint64_t factoryNumber = r.number();
    std::string_view factoryId;
    const std::string* factory = nullptr;
    if (factoryNumber & 1) {
      factoryId = r.bytes(factoryNumber >> 1);
      factory = names.byText(factoryId);
    } else {
      const auto written = std::to_chars(factoryText, factoryText + sizeof factoryText, factoryNumber >> 1).ptr;
      factoryId = std::string_view(factoryText, static_cast<size_t>(written - factoryText));
      factory = names.byNumber(static_cast<int64_t>(factoryNumber >> 1));
    }
    std::string_view note;
    const std::optional<Decimal> price = p.price(note);
    if (!r.good || !p.good || triple >= texts.size()) break;
    out.add(id, texts[triple], category, factoryId, factory, price, note,
            answers[triple] | makers(factory));
  }
  return r.atEnd() && p.atEnd() && out.size() == count;
}

std::string rowsWhere(const std::string& condition) {
  return std::string("rowid in (select rid from ") + kProductKeyTable + " where " + condition + ")";
}

}  // namespace

void useProductKeys() {
  static std::once_flag once;
  std::call_once(once, [] { ado::registerDerivedTable({kProductKeyTable, kProductKeyVersion, buildKeys}); });
}

bool readKeptProducts(ado::Database& db, const std::string& priceField, ProductTable& out) {
  if (!hasProductKeys(db)) return false;
  const bool done = addKeptProducts(db.sqlite(), priceField, out);
  if (!done) out.clearProducts();
  return done;
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
