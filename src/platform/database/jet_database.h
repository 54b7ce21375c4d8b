#pragma once
// The provider's own side of an opened Jet file: the file is read once, when it
// is opened, and every table is copied into an in-memory SQLite database; the
// statements of the programs then run there, translated to keep Jet's meaning.
//
// Used by ado::Connection / ado::Recordset, by velmora-cli and by the tests.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/database/adodb.h"
#include "platform/database/sqlite_handles.h"

struct sqlite3;

namespace ado {

class CacheImage;

// Jet's column types, named as Access names them (the dump's "type").
enum class JetType {
  Boolean, Byte, Integer, Long, Currency, Single, Double, DateTime, Binary, Text, Ole, Memo,
  Guid, Numeric, Unknown
};
const char* jetTypeName(JetType t);  // "boolean", "byte", "integer", "long", "currency",
                                     // "float", "double", "datetime", "binary", "text",
                                     // "ole", "memo", "repid", "numeric", "unknown"

struct ColumnInfo {
  std::string name;
  JetType type = JetType::Unknown;
  int size = 0;  // bytes, as the file declares it
};

struct TableInfo {
  std::string name;
  std::vector<ColumnInfo> columns;
  long rowCount = 0;
};

// The values of a result, kept compactly: a cell is 16 bytes (its type, and
// its number or where its text lies), and the texts lie one after another in
// blocks of their own. A result grows to a million values and more; nothing
// once stored is moved or copied again as it grows, and a cell's Variant is
// made only when it is asked for.
class Cells {
 public:
  class const_iterator {
   public:
    using value_type = Variant;
    using difference_type = std::ptrdiff_t;
    using reference = Variant;
    using pointer = void;
    using iterator_category = std::input_iterator_tag;
    const_iterator() = default;
    const_iterator(const Cells* cells, std::size_t i) : cells_(cells), i_(i) {}
    Variant operator*() const { return (*cells_)[i_]; }
    const_iterator& operator++() { ++i_; return *this; }
    const_iterator operator++(int) { const_iterator old = *this; ++i_; return old; }
    bool operator==(const const_iterator& o) const { return i_ == o.i_; }

   private:
    const Cells* cells_ = nullptr;
    std::size_t i_ = 0;
  };
  using iterator = const_iterator;

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  // The cell's value (a text copied out of its block).
  Variant operator[](std::size_t i) const;
  Variant at(std::size_t i) const;
  Variant back() const { return (*this)[size_ - 1]; }
  Variant::Type type(std::size_t i) const { return cell(i).type; }
  // The cell as Variant::toText gives it; a text is moved out, and the cell
  // holds an empty text afterwards (Variant::takeText).
  std::string takeText(std::size_t i);
  const_iterator begin() const { return {this, 0}; }
  const_iterator end() const { return {this, size_}; }

  void pushNull();
  // Boolean (-1, 0), Byte, Integer, Long and Currency (units of 1/10000).
  void pushWhole(Variant::Type type, int64_t value);
  // Single, Double and Date.
  void pushReal(Variant::Type type, double value);
  void pushText(std::string_view text);

 private:
  struct Cell {
    union {
      int64_t whole;
      double real;
      const char* text;
    };
    uint32_t size;  // a text's bytes
    Variant::Type type;
  };
  struct Free {
    void operator()(void* p) const;
  };
  // The first cells lie in small blocks, so that the many small results stay
  // small; a large result goes on in blocks of 2 MiB, which the system can
  // back by large pages (a fresh page costs more than the cells written into it).
  static constexpr std::size_t kSmallBits = 12, kSmall = std::size_t(1) << kSmallBits;
  static constexpr std::size_t kSmallCells = kSmall * 32;
  static constexpr std::size_t kLargeBits = 17, kLarge = std::size_t(1) << kLargeBits;
  static constexpr std::size_t kTextBlock = std::size_t(64) << 10, kLargeTextBlock = std::size_t(2) << 20;
  const Cell& cell(std::size_t i) const {
    if (i < kSmallCells) return small_[i >> kSmallBits][i & (kSmall - 1)];
    i -= kSmallCells;
    return large_[i >> kLargeBits][i & (kLarge - 1)];
  }
  Cell& cell(std::size_t i) { return const_cast<Cell&>(static_cast<const Cells*>(this)->cell(i)); }
  Cell& added();

  std::vector<std::unique_ptr<Cell[], Free>> small_, large_;
  Cell* next_ = nullptr;  // room left in the last block of cells
  std::size_t left_ = 0;
  std::vector<std::unique_ptr<char[], Free>> texts_;
  char* free_ = nullptr;  // room left in the last text block
  std::size_t room_ = 0;
  std::size_t textBytes_ = 0;  // in the text blocks so far
  std::size_t size_ = 0;
};

// A whole result, read at once so that its record count is exact.
struct ResultSet {
  std::vector<std::string> names;  // field names, as Jet names them
  Cells cells;                     // row-major, names.size() per row
  std::size_t rows = 0;
};

// How the file is read. Isolated runs the file reader in a child process, so a
// damaged or hostile file can at worst make the child fail (the open then fails
// with the damaged-file error); InProcess reads in the caller's process (fuzzing).
// CacheOnly reads nothing: the library is served from its library cache entry,
// and open gives nullptr when there is no good entry (what is ready at once).
enum class ReadMode { Isolated, InProcess, CacheOnly };

class Database {
 public:
  // Opens the Jet file at `path` (native path) and checks `password` against the
  // file's database password. Throws Error (see adodb.h for the numbers).
  static std::shared_ptr<Database> open(const std::string& path, const std::string& password,
                                        ReadMode mode = ReadMode::Isolated);
  // Opens a Jet file held in memory, read in-process (fuzzing). `name` only
  // appears in error texts.
  static std::shared_ptr<Database> openBuffer(const void* data, std::size_t size,
                                              const std::string& password,
                                              const std::string& name = "(memory)");
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  const std::string& path() const { return path_; }
  int jetVersion() const { return jetVersion_; }  // 3 or 4
  const std::vector<TableInfo>& tables() const { return tables_; }

  // Where the import of this library from its Jet file spent its time, in
  // seconds of the opening thread (all zero when it came from the cache): the
  // whole import; the waits for the inserting thread (at hand-overs and
  // table ends) and the rows the opening thread inserted itself at table
  // ends; the indexes made after the rows; the planner's figures; the
  // derived tables made and the cache entry written. What is left of `total`
  // is the reading and parsing of the rows, with the inserts overlapping it.
  struct ImportTimes {
    double total = 0, inserts = 0, indexes = 0, figures = 0, entry = 0;
  };
  const ImportTimes& importTimes() const { return importTimes_; }

  // Runs one statement in Jet's SQL; throws Error when it fails.
  // A library cache entry found damaged by the statement makes it run once
  // more on the library imported afresh.
  ResultSet execute(const std::string& statement);

  // The same, handing each row to `onRow` as it is read instead of keeping
  // the whole result (the row's cells, one per field; the handler may move
  // them out). Returns the field names. Throws Error as execute does, also
  // after some rows have been handed over (a damaged cache entry met before
  // the first row is handled as execute does; after it, the call fails).
  using RowHandler = std::function<void(std::vector<Variant>& row)>;
  std::vector<std::string> forEachRow(const std::string& statement, const RowHandler& onRow);
  // The same, telling the field names before the first row.
  using NamesHandler = std::function<void(const std::vector<std::string>& names)>;
  std::vector<std::string> forEachRow(const std::string& statement, const NamesHandler& onNames,
                                      const RowHandler& onRow);

  // The in-memory copy (tests and tools look at it directly).
  sqlite3* sqlite() const { return db_.get(); }

  // Creates an index on table.column unless one exists (names as in the file,
  // case-insensitive). Returns false when there is no such column.
  bool ensureIndex(const std::string& table, const std::string& column);

 private:
  Database();
  // After a statement failed: when the engine runs on a cache entry found
  // damaged, the library is read again (as open reads it, with the
  // same password) and true is given.
  bool reloadDamagedEntry();
  ResultSet executeOnce(const std::string& statement);
  std::vector<std::string> forEachRowOnce(const std::string& statement, const NamesHandler& onNames,
                                          const RowHandler& onRow);
  // An engine with the provider's settings, on an empty in-memory database
  // or on a library cache entry's image.
  static SqliteConnection makeEngine(const std::shared_ptr<CacheImage>& image = nullptr);
  void createEngine();
  void seal();
  void indexForStatement(const std::string& statement);
  // Prepares a select for execute and forEachRow; gives its field names and
  // the Jet type each field is read with.
  SqliteStatement prepareSelect(const std::string& statement, std::vector<std::string>& names,
                                std::vector<JetType>& types);
  void analyze(const std::string& index = "");  // "" = every table
  // How indexed_ names an indexed column.
  static std::string indexKey(const std::string& table, const std::string& column);
  struct Importer;
  friend struct Importer;
  friend class LibraryCache;
  friend class ColumnReader;  // prepares its select as every statement is

  std::string path_;
  std::string password_;         // as given to open: checked again when the library is read again
  ReadMode mode_ = ReadMode::Isolated;
  int jetVersion_ = 4;
  std::vector<TableInfo> tables_;
  std::vector<std::string> indexed_;  // "table\ncolumn", lower case
  int indexCount_ = 0;
  bool analyzed_ = false;  // the planner has figures for the indexes
  ImportTimes importTimes_;
  SqliteConnection db_;          // (on a cache entry, the engine's file holds the entry's mapping)
};

// Told how far the copy of a library from its Jet file has come, while
// Database::open copies one (a library the library cache holds is not copied
// and tells nothing): the file as opened, the rows copied so far and the rows
// there are (as the file's table definitions count them; 0 when not known).
// Called on the thread that opens the library: once with done 0, every few
// thousand rows, and once with done == total when the rows are in (writing
// the cache entry follows). Process-wide; none by default; an empty function
// removes it.
using ImportProgress = std::function<void(const std::string& path, uint64_t done, uint64_t total)>;
void setImportProgress(ImportProgress observer);

// Jet's SQL as the programs write it, turned into SQLite's: "True"/"False" become
// -1/0, double-quoted texts become literals, "&" joins texts, #date# literals become
// date numbers, "top N" becomes a limit; a "like" whose pattern starts with a
// wildcard is marked as keeping few rows (likelihood), so that the planner scans
// the table and sorts the matches rather than walk an index row by row.
// Exposed for the tests.
std::string translateJetSql(const std::string& statement);

// The text of a date number as ISO 8601 ("1974-09-21T00:00:00.000Z"), as the dump
// writes it; and the parts of a date number.
std::string oleDateToIso(double oleDate);
struct DateParts { int year, month, day, hour, minute, second, millisecond; };
DateParts oleDateParts(double oleDate);

}  // namespace ado
