#pragma once
// Stand-in for the ADO objects and the Jet OLE DB provider: opens Jet files
// (.zdj, .mdb) read-only, checks the database password, and answers the
// system's SQL statements with Jet's meaning. Text is UTF-8.
//
// Failures throw ado::Error, carrying the provider-style error number and
// description that the connection-failure message shows:
//
//   -2147217843  "Not a valid password."             wrong or missing database password
//   -2147467259  "Could not find file '<path>'."     no such file (or a folder)
//   -2147467259  "Unrecognized database format '<path>'."   not a Jet 3 / Jet 4 file
//   -2147467259  "Cannot open database '<path>'. It may not be a database that your
//                application recognizes, or the file may be corrupt."   damaged file
//   -2147467259  "The Microsoft Jet database engine cannot open the file '<path>'. It is
//                already opened exclusively by another user, or you need permission to
//                view its data."                     locked or unreadable file
//   -2147217900  "Syntax error in query expression '<statement>'."
//   -2147217865  "The Microsoft Jet database engine cannot find the input table or query
//                '<name>'.  Make sure it exists and that its name is spelled correctly."
//   -2147217904  "No value given for one or more required parameters."  (unknown column)
//   -2147217900  "Characters found after end of SQL statement."  (more than one statement)
//   -2147467259  "Operation must use an updateable query."  (a statement that would write:
//                the files are opened read-only)
//   3704 object closed, 3705 object already open, 3706 unknown provider,
//   3709 connection closed, 3265 no such field, 3021 no current record (past the end);
//   13 "Type mismatch" and 94 "Invalid use of Null" from Variant conversions.
//
// A file that has no database password opens whatever password is named, as with
// Jet. The file is read once, when it is opened; the statements then run on an
// in-memory copy, so the file is never changed and not held open.
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace ado {

// A field value. Currency is kept exactly as a count of 1/10000 units; date/time
// as the OLE date number (days since 1899-12-30, fraction = time of day).
class Variant {
 public:
  enum class Type { Null, Boolean, Byte, Integer, Long, Single, Double, Currency, Date, Text };

  Variant() = default;
  static Variant null() { return {}; }
  static Variant boolean(bool b) { return Variant(Type::Boolean, int64_t(b ? -1 : 0)); }
  static Variant byte(uint8_t v) { return Variant(Type::Byte, int64_t(v)); }
  static Variant integer(int16_t v) { return Variant(Type::Integer, int64_t(v)); }
  static Variant longInt(int32_t v) { return Variant(Type::Long, int64_t(v)); }
  static Variant single(float v) { return Variant(Type::Single, double(v)); }
  static Variant dbl(double v) { return Variant(Type::Double, v); }
  static Variant currency(int64_t tenThousandths) { return Variant(Type::Currency, tenThousandths); }
  static Variant date(double oleDate) { return Variant(Type::Date, oleDate); }
  static Variant text(std::string s) { return Variant(Type::Text, std::move(s)); }

  Type type() const { return type_; }
  bool isNull() const { return type_ == Type::Null; }
  bool isNumeric() const { return type_ != Type::Null && type_ != Type::Text && type_ != Type::Date; }

  // Booleans are True = -1, False = 0; currency and doubles are rounded to a
  // whole number (half to even, as VB's CLng); numeric text is converted. Null
  // throws Error 94, other text Error 13.
  int64_t toInt64() const;
  double toDouble() const;
  // Currency as units of 1/10000 (other numbers scaled by 10000).
  int64_t currencyUnits() const;
  // The value as the grid shows it: numbers without needless zeros ("3.5",
  // "12"), booleans "True"/"False", dates "yyyy-mm-dd[ hh:mm:ss]", null "".
  std::string toText() const;
  // The same, moving a text out instead of copying it (the Variant is left
  // holding an empty text).
  std::string takeText();

 private:
  Variant(Type t, int64_t v) : type_(t), value_(v) {}
  Variant(Type t, double v) : type_(t), value_(v) {}
  Variant(Type t, std::string v) : type_(t), value_(std::move(v)) {}
  Type type_ = Type::Null;
  std::variant<std::monostate, int64_t, double, std::string> value_;
};

struct Error : std::runtime_error {
  Error(long number, std::string description)
      : std::runtime_error(description), number(number), description(std::move(description)) {}
  long number;              // provider-style, e.g. -2147217843 "Not a valid password."
  std::string description;
};

class Database;  // one opened Jet file, held in memory (provider's own; jet_database.h)

// The parts of a connection string the provider reads (keys case-insensitive,
// values may be quoted).
struct ConnectionString {
  std::string provider;
  std::string dataSource;
  std::string databasePassword;  // "Jet OLEDB:Database Password"
};
ConnectionString parseConnectionString(const std::string& text);

// A value as it is written into a connection string: unchanged when it reads
// back as it is (blanks and Chinese inside it included); between double
// quotes when it holds ";", or starts or ends with a blank or a quote; between
// single quotes when it holds a double quote; a double quote inside a value
// that also holds a single quote is doubled. parseConnectionString reads every
// form back to the value.
std::string connectionValue(const std::string& value);

class Connection {
 public:
  Connection();
  ~Connection();
  // "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=PATH;...;Jet OLEDB:Database Password=PW".
  // PATH may use backslashes; a PATH holding ";" is quoted (connectionValue). Throws Error on a missing, locked, damaged or non-Jet
  // file, or a wrong password.
  void Open(const std::string& connectionString, const std::string& user = "",
            const std::string& password = "", long options = -1);
  int State() const;  // 1 open, 0 closed
  void Close();
  std::shared_ptr<Database> database() const { return db_; }

 private:
  std::shared_ptr<Database> db_;
};

// A field of a record set. Its name can always be read, as in ADO, also when
// the set has no rows or is past its end; its value needs a current record
// (Error 3021 otherwise).
class Field {
 public:
  const Variant& Value() const;
  const std::string& Name() const { return *name_; }

 private:
  friend class Recordset;
  Field(const std::string* name, const Variant* value) : name_(name), value_(value) {}
  const std::string* name_;
  const Variant* value_;
};

class Recordset {
 public:
  Recordset();
  ~Recordset();
  // Runs the statement on the connection's database. Throws Error when the
  // connection is closed or the statement fails. cursorType 1 and lockType 1 are
  // the only ones the system uses.
  void Open(const std::string& statement, const Connection& connection, int cursorType = 1,
            int lockType = 1, long options = -1);
  int State() const;  // 1 open, 0 closed
  long RecordCount() const;
  bool IsEOF() const;
  // Column by name (the column's own name, case-insensitive; for "T.col" the
  // field is "col") or by position from 0. Throws Error 3265 when there is
  // none; on a set without rows or past its end the field is there, and only
  // its Value() throws 3021.
  Field Fields(const std::string& name) const;
  Field Fields(int index) const;
  int FieldsCount() const;
  // The current record's field `index` (from 0) as Value().toText() gives
  // it, a text moved out instead of copied: the field holds an empty text
  // afterwards. For a reader that takes each field of a record once (the
  // grid's fill). Throws as Fields(index).Value() does.
  std::string takeText(int index);
  void MoveNext();
  void Close();

 private:
  struct Result;
  std::unique_ptr<Result> result_;
};

// A narrow read of one table for callers that go through many rows: only the
// columns asked for, straight from the engine, each cell looked at where it
// lies; no Variant is made for a cell unless value() asks for one. A cell
// reads as the same value, of the same type, as the field of a select of
// those columns through Recordset or Database::forEachRow.
class ColumnReader {
 public:
  // `columns` are named as the file names them, in any letter case; "rowid"
  // is the row's place in the copy. A column the table lacks reads as Null
  // in every row (has() tells which). `where` is a row condition in Jet's
  // SQL and `orderBy` a column of the table; either may be empty. Throws
  // Error when the table is missing or the condition fails.
  ColumnReader(Database& database, const std::string& table, const std::vector<std::string>& columns,
               const std::string& where = std::string(), const std::string& orderBy = std::string());
  ~ColumnReader();
  ColumnReader(const ColumnReader&) = delete;
  ColumnReader& operator=(const ColumnReader&) = delete;

  bool has(std::size_t column) const;
  // Moves to the next row; false after the last one. Throws Error.
  bool next();

  // The type of the cell's Variant in the current row.
  Variant::Type type(std::size_t column) const;
  // A Text cell's text, valid until the next call of next(); "" for others.
  std::string_view text(std::size_t column) const;
  // A Boolean (-1, 0), Byte, Integer, Long or Currency (in units of 1/10000)
  // cell's number, or a whole number the engine holds beyond Long's range
  // (a Double, as rowid may be); 0 for others.
  int64_t integer(std::size_t column) const;
  // The cell as its Variant.
  Variant value(std::size_t column) const;
  // The cell as Variant::toText gives it: a text in place, anything else
  // written into `scratch`.
  std::string_view toText(std::size_t column, std::string& scratch) const;

 private:
  struct State;
  std::unique_ptr<State> s_;
};

}  // namespace ado
