#pragma once
// The matching key of every product (see matchKey), kept in each library's
// cache entry beside its copy as a code: made once, when the library is
// imported, and found through an index, so that finding a product of another
// month, or pairing two months, never normalises a library again.
//
// A key's code is a digest of the key: the upper 40 of its 63 bits digest the
// name, model and unit (the answer a material list asks for), the lower 23
// the manufacturer. Equal keys have equal codes; different keys may share
// one, so whoever pairs products by code confirms the pair by their texts
// (equal as they are, or equal once normalised). The code is kept rather than the key's text, which would double
// the entry that every open maps and checks.
//
// The table, "velmora_product_keys", holds one row per row of CLProduct:
// rid (CLProduct's rowid) and code, indexed by code. Its version changes
// whenever the key's rule or the code's does, or what is made beside it, so
// entries made under an older rule get the table anew.
//
// Made in the same pass, "velmora_kept_products" keeps what a whole read of
// the products for a comparison (LibraryFile::table) gives, compactly, so
// that such a read never steps through CLProduct's rows: a few blobs (part,
// data), the products in the order of their ids, each with the index of its
// name, model and unit among the library's distinct ones, its id, category
// id and manufacturer id, and, in a part per column, its price in each
// column of CLProduct that holds amounts (Currency, Single, Double,
// Decimal) as the read gives it: the exact number, none, or why there is
// none. Libraries whose ids are not whole numbers get no such table (they
// are read from the rows). Texts that are whole numbers written plainly are
// kept as numbers: at 200,000 products the rows' part and one price column's
// take about a sixth of the pages CLProduct fills, the whole table a quarter.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct sqlite3_stmt;

namespace ado {
class Database;
}

namespace price_tools {

struct Product;
class ProductTable;

inline constexpr char kProductKeyTable[] = "velmora_product_keys";
inline constexpr char kKeptProductTable[] = "velmora_kept_products";

// Registers the table with the library cache, once per process; every
// library opened after the call carries it. Called before the price tools
// open a library.
void useProductKeys();

// Whether `db` holds the table as this build makes it.
bool hasProductKeys(ado::Database& db);

// The code of a product's key (from Product::keyCode when it was read with
// it), and the code range of an answer: the normalised name, model and unit
// joined as matchKey joins them.
int64_t keyCode(const Product& product);
int64_t keyCodeOf(std::string_view name, std::string_view model, std::string_view unit, std::string_view factory);
std::pair<int64_t, int64_t> answerCodes(const std::string& answer);

// The products of `db` with the prices of `priceField`, added to `out`
// (whose manufacturers and tree are read already) as LibraryFile::table
// gives them, from what the entry keeps. False, with nothing added, when it
// keeps no such products or not that column, or they cannot be read.
bool readKeptProducts(ado::Database& db, const std::string& priceField, ProductTable& out);

// A row condition on CLProduct (in the provider's SQL) that lets through the
// products whose key has that code, found through the index.
std::string keyCondition(int64_t code);
// The code of one row of CLProduct after another (-1 where there is none).
class KeyCodeFinder {
 public:
  explicit KeyCodeFinder(ado::Database& db);
  ~KeyCodeFinder();
  KeyCodeFinder(const KeyCodeFinder&) = delete;
  KeyCodeFinder& operator=(const KeyCodeFinder&) = delete;
  int64_t operator()(int64_t rid);

 private:
  sqlite3_stmt* st_ = nullptr;
};
// Every (rid, code) of the table, by rid.
std::vector<std::pair<int64_t, int64_t>> keyCodes(ado::Database& db);
// The codes of the rows of CLProduct as a whole read gives them, in the order
// of their rowids: the table is gone through once beside the read, rid after
// rid, with nothing held; a row asked for out of that order is looked up.
class KeyCodeStream {
 public:
  explicit KeyCodeStream(ado::Database& db);
  ~KeyCodeStream();
  KeyCodeStream(const KeyCodeStream&) = delete;
  KeyCodeStream& operator=(const KeyCodeStream&) = delete;
  int64_t operator()(int64_t rid);  // -1 where there is none

 private:
  sqlite3_stmt* st_ = nullptr;
  bool row_ = false;  // st_ stands on a row
  KeyCodeFinder finder_;
};

}  // namespace price_tools
