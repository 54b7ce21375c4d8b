#include "price_tools/months/decimal.h"

#include <algorithm>
#include <stdexcept>

#include "platform/database/adodb.h"

namespace price_tools {

namespace {

constexpr int kMaxScale = 12;

__int128 pow10(int n) {
  __int128 p = 1;
  while (n-- > 0) p *= 10;
  return p;
}

// Brings a value to a larger scale.
__int128 scaled(const Decimal& d, int scale) { return static_cast<__int128>(d.units()) * pow10(scale - d.scale()); }

int64_t narrow(__int128 v) {
  if (v > INT64_MAX || v < INT64_MIN) throw std::overflow_error("price out of range");
  return static_cast<int64_t>(v);
}

// Drops zeros after the point that carry nothing.
Decimal trimmed(__int128 units, int scale) {
  // Nearly every value fits 64 bits, where dividing is many times cheaper.
  if (units >= INT64_MIN && units <= INT64_MAX) {
    auto narrowUnits = static_cast<int64_t>(units);
    while (scale > 0 && narrowUnits % 10 == 0) {
      narrowUnits /= 10;
      --scale;
    }
    return Decimal(narrowUnits, scale);
  }
  while (scale > 0 && units % 10 == 0) {
    units /= 10;
    --scale;
  }
  return Decimal(narrow(units), scale);
}

}  // namespace

std::optional<Decimal> Decimal::parse(std::string_view text) {
  size_t b = text.find_first_not_of(" \t");
  if (b == std::string_view::npos) return std::nullopt;
  size_t e = text.find_last_not_of(" \t");
  const std::string_view t = text.substr(b, e - b + 1);
  size_t i = 0;
  bool negative = false;
  if (t[i] == '-' || t[i] == '+') negative = t[i++] == '-';
  __int128 units = 0;
  int scale = 0;
  bool digits = false, point = false;
  int exponent = 0;
  for (; i < t.size(); ++i) {
    const char c = t[i];
    if ((c == 'E' || c == 'e') && digits) {
      // An exponent, as a Double is written ("1E+15", "1.5E-03").
      size_t k = i + 1;
      bool negativeExponent = false;
      if (k < t.size() && (t[k] == '+' || t[k] == '-')) negativeExponent = t[k++] == '-';
      if (k == t.size() || k + 4 < t.size()) return std::nullopt;
      for (; k < t.size(); ++k) {
        if (t[k] < '0' || t[k] > '9') return std::nullopt;
        exponent = exponent * 10 + (t[k] - '0');
      }
      if (negativeExponent) exponent = -exponent;
      break;
    } else if (c == '.' && !point) {
      point = true;
    } else if (c >= '0' && c <= '9') {
      digits = true;
      if (point && ++scale > kMaxScale) return std::nullopt;
      units = units * 10 + (c - '0');
      if (units > INT64_MAX) return std::nullopt;
    } else {
      return std::nullopt;
    }
  }
  if (!digits) return std::nullopt;
  // The exponent moves the point; a value that needs more than 18 digits or
  // more places than kMaxScale cannot be held exactly.
  scale -= exponent;
  for (; scale < 0; ++scale) {
    units *= 10;
    if (units > INT64_MAX) return std::nullopt;
  }
  while (scale > kMaxScale && units % 10 == 0 && units != 0) units /= 10, --scale;
  if (units == 0) scale = std::min(scale, kMaxScale);
  if (scale > kMaxScale) return std::nullopt;
  return Decimal(narrow(negative ? -units : units), scale);
}

std::optional<Decimal> Decimal::fromVariant(const ado::Variant& v) {
  using T = ado::Variant::Type;
  switch (v.type()) {
    case T::Currency:
      return Decimal(v.currencyUnits(), 4);
    case T::Byte:
    case T::Integer:
    case T::Long:
      return Decimal(v.toInt64(), 0);
    case T::Single:
    case T::Double:
    case T::Text:
      return parse(v.toText());
    default:
      return std::nullopt;
  }
}

std::optional<Decimal> Decimal::fromCell(const ado::ColumnReader& row, std::size_t k, std::string& scratch) {
  using T = ado::Variant::Type;
  switch (row.type(k)) {
    case T::Currency:
      return Decimal(row.integer(k), 4);
    case T::Byte:
    case T::Integer:
    case T::Long:
      return Decimal(row.integer(k), 0);
    case T::Text:
      return parse(row.text(k));
    case T::Single:
    case T::Double:
      return parse(row.toText(k, scratch));
    default:
      return std::nullopt;
  }
}

std::string Decimal::text() const {
  const Decimal d = trimmed(units_, scale_);
  __int128 v = d.units_;
  const bool negative = v < 0;
  if (negative) v = -v;
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(v % 10)));
    v /= 10;
  } while (v > 0);
  if (d.scale_ > 0) {
    const size_t places = static_cast<size_t>(d.scale_);
    if (digits.size() <= places) digits = std::string(places + 1 - digits.size(), '0') + digits;
    const size_t point = digits.size() - places;
    digits = digits.substr(0, point) + "." + digits.substr(point);
  }
  return negative ? "-" + digits : digits;
}

Decimal operator-(const Decimal& a, const Decimal& b) {
  const int s = std::max(a.scale_, b.scale_);
  return trimmed(scaled(a, s) - scaled(b, s), s);
}

Decimal operator+(const Decimal& a, const Decimal& b) {
  const int s = std::max(a.scale_, b.scale_);
  return trimmed(scaled(a, s) + scaled(b, s), s);
}

int compare(const Decimal& a, const Decimal& b) {
  const int s = std::max(a.scale_, b.scale_);
  const __int128 x = scaled(a, s), y = scaled(b, s);
  return x < y ? -1 : x > y ? 1 : 0;
}

Decimal operator*(const Decimal& a, const Decimal& b) {
  const __int128 x = a.units_, y = b.units_;
  const __int128 limit = static_cast<__int128>(INT64_MAX);
  // Both factors fit 64 bits, so their product fits 127 bits.
  __int128 units = x * y;
  int scale = a.scale_ + b.scale_;
  // Places beyond what a price can carry are only kept while they are exact.
  while (scale > kMaxScale) {
    if (units % 10 != 0) throw std::overflow_error("product of prices has too many places");
    units /= 10;
    --scale;
  }
  if (units > limit || units < -limit) throw std::overflow_error("price out of range");
  return trimmed(units, scale);
}

namespace {

// n / d rounded half away from zero; d > 0.
__int128 divideRounded(__int128 n, __int128 d) {
  const bool negative = n < 0;
  if (negative) n = -n;
  __int128 q = n / d;
  if ((n % d) * 2 >= d) ++q;
  return negative ? -q : q;
}

}  // namespace

Decimal Decimal::rounded(int places) const {
  places = std::clamp(places, 0, kMaxScale);
  if (scale_ <= places) return trimmed(units_, scale_);
  return trimmed(divideRounded(units_, pow10(scale_ - places)), places);
}

std::optional<Decimal> Decimal::quotient(const Decimal& a, const Decimal& b, int places) {
  if (b.units_ == 0) return std::nullopt;
  places = std::clamp(places, 0, kMaxScale);
  // a/b at `places` places: (a * 10^(places + sb)) / (b * 10^sa).
  __int128 num = 0, den = 0;
  if (__builtin_mul_overflow(static_cast<__int128>(a.units_), pow10(places + b.scale_), &num) ||
      __builtin_mul_overflow(static_cast<__int128>(b.units_), pow10(a.scale_), &den))
    throw std::overflow_error("price out of range");
  if (den < 0) num = -num, den = -den;
  return trimmed(divideRounded(num, den), places);
}

Decimal Decimal::half() const { return trimmed(static_cast<__int128>(units_) * 5, scale_ + 1); }

std::optional<Decimal> Decimal::percent(const Decimal& a, const Decimal& b, int places) {
  if (b.units_ == 0) return std::nullopt;
  // a/b*100 at `places` places: (a * 10^(places+2) * 10^sb) / (b * 10^sa).
  __int128 num = static_cast<__int128>(a.units_) * pow10(places + 2 + b.scale_);
  __int128 den = static_cast<__int128>(b.units_) * pow10(a.scale_);
  if (den < 0) num = -num, den = -den;
  const bool negative = num < 0;
  if (negative) num = -num;
  __int128 q = 0;
  if (num <= UINT64_MAX && den <= UINT64_MAX) {
    // The usual sizes, divided in 64 bits.
    const auto n = static_cast<uint64_t>(num), d = static_cast<uint64_t>(den);
    q = n / d;
    if ((n % d) >= d - n % d) ++q;  // half away from zero: remainder * 2 >= d
  } else {
    q = num / den;
    if ((num % den) * 2 >= den) ++q;  // half away from zero
  }
  return trimmed(negative ? -q : q, places);
}

}  // namespace price_tools
