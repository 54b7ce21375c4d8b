#include "platform/database/jet_types.h"

#include <sqlite3.h>

#include <cmath>
#include <cstring>
#include <string_view>

#include "common/text_case.h"
#include "platform/database/sqlite_handles.h"

namespace ado {

void SqliteClose::operator()(sqlite3* db) const { sqlite3_close_v2(db); }
void SqliteFinalize::operator()(sqlite3_stmt* st) const { sqlite3_finalize(st); }

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

Variant::Type cellType(sqlite3_stmt* st, int i, int cls, JetType decl) {
  using T = Variant::Type;
  if (cls == SQLITE_NULL || cls == SQLITE_BLOB) return T::Null;
  if (cls == SQLITE_TEXT) return T::Text;
  switch (decl) {
    case JetType::Boolean: return T::Boolean;
    case JetType::Byte: return T::Byte;
    case JetType::Integer: return T::Integer;
    case JetType::Long: return T::Long;
    case JetType::Currency: return T::Currency;
    case JetType::Single: return T::Single;
    case JetType::DateTime: return T::Date;
    case JetType::Double:
    case JetType::Numeric: return T::Double;
    default: break;
  }
  if (cls == SQLITE_INTEGER) {
    const int64_t v = sqlite3_column_int64(st, i);
    return v >= INT32_MIN && v <= INT32_MAX ? T::Long : T::Double;
  }
  return T::Double;
}

namespace {

// A result cell read once, handed to `sink` as null(), text(view), whole(type,
// number) or real(type, number): what both cellValue and appendCell make of it.
template <class Sink>
auto readCell(sqlite3_stmt* st, int i, int cls, JetType decl, Sink&& sink) {
  using T = Variant::Type;
  switch (const T t = cellType(st, i, cls, decl)) {
    case T::Null: break;
    case T::Text:
      return sink.text(std::string_view(reinterpret_cast<const char*>(sqlite3_column_text(st, i)),
                                        std::size_t(sqlite3_column_bytes(st, i))));
    case T::Boolean: return sink.whole(t, sqlite3_column_int64(st, i) != 0 ? -1 : 0);
    case T::Byte: return sink.whole(t, int64_t(uint8_t(sqlite3_column_int64(st, i))));
    case T::Integer: return sink.whole(t, int64_t(int16_t(sqlite3_column_int64(st, i))));
    case T::Long: return sink.whole(t, int64_t(int32_t(sqlite3_column_int64(st, i))));
    case T::Currency: return sink.whole(t, currencyUnitsOf(st, i));
    case T::Single: return sink.real(t, double(float(sqlite3_column_double(st, i))));
    // A whole number the engine holds converts exactly as a cast would.
    case T::Date:
    case T::Double: return sink.real(t, sqlite3_column_double(st, i));
  }
  return sink.null();
}

struct VariantSink {
  Variant null() const { return Variant::null(); }
  Variant text(std::string_view s) const { return Variant::text(std::string(s)); }
  Variant whole(Variant::Type t, int64_t v) const { return variantOf(t, v); }
  Variant real(Variant::Type t, double v) const { return variantOf(t, v); }
};

struct CellsSink {
  Cells& cells;
  void null() const { cells.pushNull(); }
  void text(std::string_view s) const { cells.pushText(s); }
  void whole(Variant::Type t, int64_t v) const { cells.pushWhole(t, v); }
  void real(Variant::Type t, double v) const { cells.pushReal(t, v); }
};

}  // namespace

Variant variantOf(Variant::Type type, int64_t whole) {
  using T = Variant::Type;
  switch (type) {
    case T::Boolean: return Variant::boolean(whole != 0);
    case T::Byte: return Variant::byte(uint8_t(whole));
    case T::Integer: return Variant::integer(int16_t(whole));
    case T::Long: return Variant::longInt(int32_t(whole));
    case T::Currency: return Variant::currency(whole);
    default: return Variant::null();
  }
}

Variant variantOf(Variant::Type type, double real) {
  using T = Variant::Type;
  switch (type) {
    case T::Single: return Variant::single(float(real));
    case T::Double: return Variant::dbl(real);
    case T::Date: return Variant::date(real);
    default: return Variant::null();
  }
}

Variant cellValue(sqlite3_stmt* st, int i, int cls, JetType decl) {
  return readCell(st, i, cls, decl, VariantSink{});
}

void appendCell(Cells& cells, sqlite3_stmt* st, int i, int cls, JetType decl) {
  readCell(st, i, cls, decl, CellsSink{cells});
}

// Sum and Avg of Currency, exact: the amounts are added as counts of units (in
// 128 bits), never as doubles, and the result is kept as the copy keeps an
// amount. The mean is rounded to a unit, half away from zero.
namespace {

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
}  // namespace

void registerCurrencyAggregates(sqlite3* db) {
  // The mean is told from the sum by its user data.
  static int mean = 1;
  sqlite3_create_function(db, "jet_currency_sum", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, nullptr,
                          currencyStep, currencyFinal);
  sqlite3_create_function(db, "jet_currency_avg", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, &mean, nullptr,
                          currencyStep, currencyFinal);
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

}  // namespace ado
