#include "platform/database/adodb.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include <sqlite3.h>

#include "common/program_folder.h"
#include "common/text_case.h"
#include "platform/database/cache_file.h"
#include "platform/database/jet_database.h"
#include "platform/database/jet_sql.h"
#include "platform/database/jet_types.h"
#include "platform/database/sqlite_handles.h"

namespace ado {

// ---------------------------------------------------------------------------
// Variant

namespace {

Error typeMismatch() { return Error(13, "Type mismatch"); }
Error invalidNull() { return Error(94, "Invalid use of Null"); }

// VB's way of writing a floating-point number: the shortest of `digits`
// significant digits, no trailing zeros, exponent as "E+20" / "E-07".
std::string vbNumber(double v, int digits) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v > 0 ? "Infinity" : "-Infinity";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*G", digits, v);
  std::string s = buf;
  std::size_t e = s.find('E');
  if (e == std::string::npos) return s == "-0" ? "0" : s;
  std::string mant = s.substr(0, e);
  std::string exp = s.substr(e + 1);
  char sign = exp[0];
  std::size_t k = 1;
  while (k + 1 < exp.size() && exp[k] == '0') ++k;
  return mant + "E" + sign + exp.substr(k);
}

// Every price of a filled grid passes here: the digits are written directly.
std::string currencyText(int64_t units) {
  const bool neg = units < 0;
  const uint64_t u = neg ? uint64_t(0) - uint64_t(units) : uint64_t(units);
  char buf[32];
  char* p = buf;
  if (neg) *p++ = '-';
  p = std::to_chars(p, buf + sizeof buf, u / 10000).ptr;
  unsigned frac = unsigned(u % 10000);
  if (frac) {
    *p++ = '.';
    char digits[4] = {char('0' + frac / 1000), char('0' + frac / 100 % 10), char('0' + frac / 10 % 10),
                      char('0' + frac % 10)};
    int last = 3;
    while (digits[last] == '0') --last;
    for (int k = 0; k <= last; ++k) *p++ = digits[k];
  }
  return std::string(buf, p);
}

// A text that holds a number, blanks after it allowed; anything else is a type
// mismatch.
double textNumber(const std::string& s) {
  char* end = nullptr;
  const double d = std::strtod(s.c_str(), &end);
  while (end && std::isspace(static_cast<unsigned char>(*end))) ++end;
  if (s.empty() || !end || *end) throw typeMismatch();
  return d;
}

}  // namespace

int64_t Variant::toInt64() const {
  switch (type_) {
    case Type::Null: throw invalidNull();
    case Type::Text: return int64_t(std::nearbyint(textNumber(std::get<std::string>(value_))));
    case Type::Single:
    case Type::Double:
    case Type::Date: return int64_t(std::nearbyint(std::get<double>(value_)));
    case Type::Currency: {
      // In whole units, half to even, without a detour through double (which
      // would lose the last digits of large amounts).
      const int64_t units = std::get<int64_t>(value_);
      int64_t whole = units / 10000;
      const int64_t rest = units % 10000;
      if (rest > 5000 || (rest == 5000 && (whole & 1))) ++whole;
      if (rest < -5000 || (rest == -5000 && (whole & 1))) --whole;
      return whole;
    }
    default: return std::get<int64_t>(value_);
  }
}

double Variant::toDouble() const {
  switch (type_) {
    case Type::Null: throw invalidNull();
    case Type::Text: return textNumber(std::get<std::string>(value_));
    case Type::Single:
    case Type::Double:
    case Type::Date: return std::get<double>(value_);
    case Type::Currency: return double(std::get<int64_t>(value_)) / 10000.0;
    default: return double(std::get<int64_t>(value_));
  }
}

int64_t Variant::currencyUnits() const {
  if (type_ == Type::Currency) return std::get<int64_t>(value_);
  if (type_ == Type::Null) throw invalidNull();
  if (type_ == Type::Single || type_ == Type::Double || type_ == Type::Date || type_ == Type::Text)
    return std::llround(toDouble() * 10000.0);
  return std::get<int64_t>(value_) * 10000;
}

std::string Variant::toText() const {
  switch (type_) {
    case Type::Null: return "";
    case Type::Boolean: return std::get<int64_t>(value_) ? "True" : "False";
    case Type::Byte:
    case Type::Integer:
    case Type::Long: return std::to_string(std::get<int64_t>(value_));
    case Type::Single: return vbNumber(std::get<double>(value_), 7);
    case Type::Double: return vbNumber(std::get<double>(value_), 15);
    case Type::Currency: return currencyText(std::get<int64_t>(value_));
    case Type::Date: {
      // Shown to the second, rounded as VB rounds it.
      double d = std::get<double>(value_);
      double whole = std::trunc(d);
      double secs = std::nearbyint(std::fabs(d - whole) * 86400.0);
      DateParts p = oleDateParts(whole + (d < 0 ? -secs : secs) / 86400.0);
      char buf[40];
      if (p.hour == 0 && p.minute == 0 && p.second == 0)
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", p.year, p.month, p.day);
      else
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour,
                      p.minute, p.second);
      return buf;
    }
    case Type::Text: return std::get<std::string>(value_);
  }
  return "";
}

std::string Variant::takeText() {
  if (type_ == Type::Text) return std::move(std::get<std::string>(value_));
  return toText();
}

// ---------------------------------------------------------------------------
// Connection

namespace {

std::string trim(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

}  // namespace

ConnectionString parseConnectionString(const std::string& text) {
  ConnectionString cs;
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n) {
    std::size_t eq = text.find('=', i);
    std::size_t semi = text.find(';', i);
    if (eq == std::string::npos || (semi != std::string::npos && semi < eq)) {
      if (semi == std::string::npos) break;
      i = semi + 1;
      continue;
    }
    std::string key = common::asciiLower(trim(text.substr(i, eq - i)));
    std::size_t v = eq + 1;
    while (v < n && text[v] == ' ') ++v;
    std::string value;
    if (v < n && (text[v] == '"' || text[v] == '\'')) {
      // Up to the closing quote; a doubled quote inside stands for one.
      const char q = text[v];
      std::size_t k = v + 1;
      while (k < n) {
        if (text[k] == q) {
          if (k + 1 < n && text[k + 1] == q) {
            value += q;
            k += 2;
            continue;
          }
          break;
        }
        value += text[k++];
      }
      std::size_t next = text.find(';', k);
      i = next == std::string::npos ? n : next + 1;
    } else {
      std::size_t end = semi == std::string::npos ? n : semi;
      value = trim(text.substr(v, end - v));
      i = end + 1;
    }
    if (key == "provider")
      cs.provider = value;
    else if (key == "data source")
      cs.dataSource = value;
    else if (key == "jet oledb:database password")
      cs.databasePassword = value;
  }
  return cs;
}

std::string connectionValue(const std::string& value) {
  const bool blankAtEnd = !value.empty() && (std::isspace(static_cast<unsigned char>(value.front())) ||
                                             std::isspace(static_cast<unsigned char>(value.back())));
  const bool startsQuoted = !value.empty() && (value.front() == '"' || value.front() == '\'');
  const bool hasDouble = value.find('"') != std::string::npos;
  if (value.find(';') == std::string::npos && !blankAtEnd && !startsQuoted) return value;
  if (!hasDouble) return '"' + value + '"';
  if (value.find('\'') == std::string::npos) return "'" + value + "'";
  std::string quoted = "\"";
  for (char c : value) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + '"';
}

Connection::Connection() = default;
Connection::~Connection() = default;

void Connection::Open(const std::string& connectionString, const std::string&, const std::string&,
                      long) {
  if (db_) throw Error(3705, "Operation is not allowed when the object is open.");
  ConnectionString cs = parseConnectionString(connectionString);
  if (!cs.provider.empty() && common::asciiLower(cs.provider).rfind("microsoft.jet.oledb", 0) != 0)
    throw Error(3706, "Provider cannot be found. It may not be properly installed.");
  db_ = Database::open(common::nativePath(cs.dataSource), cs.databasePassword);
}

int Connection::State() const { return db_ ? 1 : 0; }

void Connection::Close() {
  if (!db_) throw Error(3704, "Operation is not allowed when the object is closed.");
  db_.reset();
}

// ---------------------------------------------------------------------------
// Recordset

// The current record's fields are made into Variants as they are asked for,
// one slot per field: a Field reads the slot of its field, which holds the
// value of the record that was current when it was last asked for.
struct Recordset::Result {
  ResultSet set;
  std::size_t row = 0;
  mutable std::vector<Variant> current;
  mutable std::vector<std::size_t> madeFor;  // the record each slot was made for

  const Variant& value(std::size_t field) const {
    if (madeFor[field] != row) {
      current[field] = set.cells[row * set.names.size() + field];
      madeFor[field] = row;
    }
    return current[field];
  }
};

namespace {
Error closedObject() { return Error(3704, "Operation is not allowed when the object is closed."); }
Error noCurrentRecord() {
  return Error(3021,
               "Either BOF or EOF is True, or the current record has been deleted. Requested "
               "operation requires a current record.");
}
Error itemNotFound() {
  return Error(3265, "Item cannot be found in the collection corresponding to the requested name or ordinal.");
}
}  // namespace

Recordset::Recordset() = default;
Recordset::~Recordset() = default;

void Recordset::Open(const std::string& statement, const Connection& connection, int, int, long) {
  if (result_) throw Error(3705, "Operation is not allowed when the object is open.");
  auto db = connection.database();
  if (!db)
    throw Error(3709,
                "The connection cannot be used to perform this operation. It is either closed or "
                "invalid in this context.");
  auto r = std::make_unique<Result>();
  r->set = db->execute(statement);
  r->current.resize(r->set.names.size());
  r->madeFor.assign(r->set.names.size(), std::size_t(-1));
  result_ = std::move(r);
}

int Recordset::State() const { return result_ ? 1 : 0; }

long Recordset::RecordCount() const {
  if (!result_) throw closedObject();
  return long(result_->set.rows);
}

bool Recordset::IsEOF() const {
  if (!result_) throw closedObject();
  return result_->row >= result_->set.rows;
}

int Recordset::FieldsCount() const {
  if (!result_) throw closedObject();
  return int(result_->set.names.size());
}

const Variant& Field::Value() const {
  if (!value_) throw noCurrentRecord();
  return *value_;
}

Field Recordset::Fields(int index) const {
  if (!result_) throw closedObject();
  const ResultSet& s = result_->set;
  if (index < 0 || std::size_t(index) >= s.names.size()) throw itemNotFound();
  const Variant* value = result_->row < s.rows ? &result_->value(std::size_t(index)) : nullptr;
  return Field(&s.names[std::size_t(index)], value);
}

std::string Recordset::takeText(int index) {
  if (!result_) throw closedObject();
  ResultSet& s = result_->set;
  if (index < 0 || std::size_t(index) >= s.names.size()) throw itemNotFound();
  if (result_->row >= s.rows) throw noCurrentRecord();
  result_->madeFor[std::size_t(index)] = std::size_t(-1);
  return s.cells.takeText(result_->row * s.names.size() + std::size_t(index));
}

Field Recordset::Fields(const std::string& name) const {
  if (!result_) throw closedObject();
  const ResultSet& s = result_->set;
  // A field named by table and field ("Factory.Name", where two tables give a
  // Name) by its whole name; otherwise "T.col" is the field col.
  const std::string whole = common::asciiLower(name);
  for (std::size_t i = 0; i < s.names.size(); ++i)
    if (common::asciiLower(s.names[i]) == whole) return Fields(int(i));
  std::string want = name;
  std::size_t dot = want.rfind('.');
  if (dot != std::string::npos) want = want.substr(dot + 1);
  if (want.size() >= 2 && want.front() == '[' && want.back() == ']') want = want.substr(1, want.size() - 2);
  want = common::asciiLower(want);
  for (std::size_t i = 0; i < s.names.size(); ++i)
    if (common::asciiLower(s.names[i]) == want) return Fields(int(i));
  throw itemNotFound();
}

void Recordset::MoveNext() {
  if (!result_) throw closedObject();
  if (result_->row >= result_->set.rows) throw noCurrentRecord();
  ++result_->row;
}

void Recordset::Close() {
  if (!result_) throw closedObject();
  result_.reset();
}

// ---------------------------------------------------------------------------
// ColumnReader

struct ColumnReader::State {
  SqliteStatement statement;
  sqlite3_stmt* st = nullptr;
  std::vector<JetType> types;  // as the engine declares each column
  std::vector<int> classes;    // the storage of each cell of the current row
  std::vector<bool> present;
  std::string failure;         // the statement, for the error text
};

ColumnReader::ColumnReader(Database& db, const std::string& table, const std::vector<std::string>& columns,
                           const std::string& where, const std::string& orderBy)
    : s_(std::make_unique<State>()) {
  const TableInfo* info = nullptr;
  for (const TableInfo& t : db.tables())
    if (common::asciiLower(t.name) == common::asciiLower(table)) info = &t;
  if (!info)
    throw Error(-2147217865, "The Microsoft Jet database engine cannot find the input table or query '" + table +
                                 "'.  Make sure it exists and that its name is spelled correctly.");
  auto columnNamed = [&](const std::string& name) -> const ColumnInfo* {
    for (const ColumnInfo& c : info->columns)
      if (common::asciiLower(c.name) == common::asciiLower(name)) return &c;
    return nullptr;
  };
  // Names are bracketed as Jet brackets them; the statement is translated as
  // every statement of the programs is.
  std::string jet = "select ";
  for (std::size_t k = 0; k < columns.size(); ++k) {
    const ColumnInfo* c = columnNamed(columns[k]);
    const bool rowid = !c && common::asciiLower(columns[k]) == "rowid";
    s_->present.push_back(c || rowid);
    jet += (k ? ", " : "") + (c ? "[" + c->name + "]" : rowid ? "[" + info->name + "].rowid" : std::string("NULL"));
  }
  if (columns.empty()) jet += "NULL";
  jet += " from [" + info->name + "]";
  if (!where.empty()) jet += " where " + where;
  if (!orderBy.empty()) {
    const ColumnInfo* c = columnNamed(orderBy);
    if (!c) throw Error(-2147217904, "No value given for one or more required parameters.");
    jet += " order by [" + c->name + "]";
  }
  s_->failure = jet;
  // Prepared as every select of the programs is: translated, under the
  // statement guard, with the index a column compared by "=" gets.
  std::vector<std::string> names;
  s_->statement = db.prepareSelect(jet, names, s_->types);
  s_->st = s_->statement.get();
  s_->classes.assign(s_->types.size(), SQLITE_NULL);
}

ColumnReader::~ColumnReader() = default;

bool ColumnReader::has(std::size_t k) const { return k < s_->present.size() && s_->present[k]; }

bool ColumnReader::next() {
  sqlite3_stmt* st = s_->st;
  const int rc = sqlite3_step(st);
  if (rc == SQLITE_ROW) {
    for (std::size_t k = 0; k < s_->classes.size(); ++k) s_->classes[k] = sqlite3_column_type(st, int(k));
    return true;
  }
  if (rc == SQLITE_DONE) return false;
  if (auto damaged = damagedEntryError(sqlite3_db_handle(st))) throw *damaged;
  throw Error(-2147467259, std::string(sqlite3_errmsg(sqlite3_db_handle(s_->st))) + ": " + s_->failure);
}

// The types and values of the provider's row path, by the same rule.
Variant::Type ColumnReader::type(std::size_t k) const {
  return cellType(s_->st, int(k), s_->classes[k], s_->types[k]);
}

std::string_view ColumnReader::text(std::size_t k) const {
  sqlite3_stmt* st = s_->st;
  const int i = int(k);
  if (s_->classes[k] != SQLITE_TEXT) return {};
  const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
  return std::string_view(p, std::size_t(sqlite3_column_bytes(st, i)));
}

int64_t ColumnReader::integer(std::size_t k) const {
  using T = Variant::Type;
  sqlite3_stmt* st = s_->st;
  const int i = int(k);
  switch (type(k)) {
    case T::Boolean: return sqlite3_column_int64(st, i) != 0 ? -1 : 0;
    case T::Byte: return uint8_t(sqlite3_column_int64(st, i));
    case T::Integer: return int16_t(sqlite3_column_int64(st, i));
    case T::Long: return int32_t(sqlite3_column_int64(st, i));
    case T::Currency: return currencyUnitsOf(st, i);
    case T::Double: return s_->classes[k] == SQLITE_INTEGER ? sqlite3_column_int64(st, i) : 0;
    default: return 0;
  }
}

Variant ColumnReader::value(std::size_t k) const {
  return cellValue(s_->st, int(k), s_->classes[k], s_->types[k]);
}

std::string_view ColumnReader::toText(std::size_t k, std::string& scratch) const {
  using T = Variant::Type;
  switch (type(k)) {
    case T::Null: return {};
    case T::Text: return text(k);
    case T::Byte:
    case T::Integer:
    case T::Long: {
      char buf[24];
      const auto end = std::to_chars(buf, buf + sizeof buf, integer(k)).ptr;
      scratch.assign(buf, end);
      return scratch;
    }
    default:
      scratch = value(k).toText();
      return scratch;
  }
}

}  // namespace ado
