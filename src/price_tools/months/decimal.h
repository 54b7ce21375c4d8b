#pragma once
// Exact decimal numbers for prices: an integer count of units of 10^-scale.
// A price read from a library never passes through a binary double: currency
// comes as its count of 1/10000, whole numbers as they are, other numbers as
// their decimal text.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ado {
class Variant;
class ColumnReader;
}

namespace price_tools {

// Held in 12 bytes (4-byte aligned), so that an optional one takes 16: the
// comparison keeps four per row and a table one per product.
class __attribute__((packed, aligned(4))) Decimal {
 public:
  Decimal() = default;
  Decimal(int64_t units, int scale) : units_(units), scale_(scale) {}

  // A decimal text: optional sign, digits, optional point and digits, an
  // optional exponent as a Double is written ("1E+15", "2.5e-3"); blanks
  // around it ignored. nullopt otherwise, and for a value that cannot be held
  // exactly (more than 12 places after the point, beyond 18 digits).
  static std::optional<Decimal> parse(std::string_view text);
  // A field value: nullopt for null and for values that are not numbers.
  static std::optional<Decimal> fromVariant(const ado::Variant& value);
  // The same for a cell of a narrow read, by the same rules as its Variant
  // (`scratch` holds the text of a Single or Double while it is parsed).
  static std::optional<Decimal> fromCell(const ado::ColumnReader& row, std::size_t column, std::string& scratch);

  int64_t units() const { return units_; }
  int scale() const { return scale_; }
  int sign() const { return units_ > 0 ? 1 : units_ < 0 ? -1 : 0; }

  // The value in canonical form: no needless zeros after the point, "-" for
  // negatives, "0" for zero ("4142.2", "-0.5", "12").
  std::string text() const;

  friend Decimal operator-(const Decimal& a, const Decimal& b);
  friend Decimal operator+(const Decimal& a, const Decimal& b);
  Decimal abs() const { return Decimal(units_ < 0 ? -units_ : units_, scale_); }
  // Compares the values (1.50 equals 1.5).
  friend int compare(const Decimal& a, const Decimal& b);
  friend bool operator==(const Decimal& a, const Decimal& b) { return compare(a, b) == 0; }
  friend bool operator<(const Decimal& a, const Decimal& b) { return compare(a, b) < 0; }

  // The exact product. Throws std::overflow_error when it cannot be held.
  friend Decimal operator*(const Decimal& a, const Decimal& b);
  // The value rounded half away from zero to `places` places (0 to 12).
  Decimal rounded(int places) const;
  // a / b rounded half away from zero to `places` places; nullopt when b is 0.
  static std::optional<Decimal> quotient(const Decimal& a, const Decimal& b, int places);

  // Half of the value, exact (one more place when needed).
  Decimal half() const;
  // a / b * 100 rounded half away from zero to `places` places; nullopt when b is 0.
  static std::optional<Decimal> percent(const Decimal& a, const Decimal& b, int places = 2);

 private:
  int64_t units_ = 0;
  int scale_ = 0;
};

}  // namespace price_tools
