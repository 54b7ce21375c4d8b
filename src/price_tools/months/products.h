#pragma once
// The products of a monthly library as the price tools read them, and the
// price columns the user can pick.
//
// Works on the program folder the data module is pointed at
// (common::programFolder()) and on the pro.mdb it is given (by default the
// one opendatabases leaves in slot 0): the price columns come from the
// product grid's layout in that pro.mdb, and each library is opened on a
// connection of its own and closed again. Nothing of the main window's data
// module is read or written besides: not its library (slot libraryslot), not
// mainrs, auxrs or TableSettings.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "price_tools/months/decimal.h"

namespace ado {
class Connection;
class ColumnReader;
class Database;
}

namespace price_tools {

// A numeric column that the product grid shows: its header title as the grid
// shows it ("价格-含税": group and column title joined by "-" when the grid has
// two header rows and they differ), the field of CLProduct and the column's
// display format.
struct PriceColumn {
  std::string title;
  std::string field;
  std::string format;
};

// The price columns, in the grid's column order: the layout rows of CLProduct
// (laid out as the product grid is) whose column is shown (not hidden, width
// not 0) and whose field is a numeric column of the library's CLProduct.
// `libraryName` (without ".zdj") gives the column types. Throws ado::Error when
// the library cannot be opened.
std::vector<PriceColumn> priceColumns(const std::string& libraryName);

// The column with that title; the first one for an empty title. nullopt when
// there is none.
std::optional<PriceColumn> findPriceColumn(const std::vector<PriceColumn>& columns, const std::string& title);

struct Product {
  std::string id;
  std::string name;
  std::string model;    // "" when the library has no Model column
  std::string unit;     // "" when the library has no Unit column
  std::string factory;  // the manufacturer's name, "" when unknown
  std::string categoryId;
  std::string factoryId;
  std::optional<Decimal> price;  // nullopt: empty or not a number
  // Why a number that is there gives no price (it cannot be held exactly:
  // out of range, too many places); "" otherwise.
  std::string priceNote;
  // The code of the matching key as the library's cache entry holds it
  // (product_keys.h); -1 when it was not read.
  int64_t keyCode = -1;
};

// A product as a library's rows give it, before anything is kept of it: the
// texts lie in the reader and last only for the call the row is handed to.
// The texts are those of Product (the same field, the same text).
struct ProductRow {
  std::string_view id, name, model, unit, categoryId, factoryId;
  std::string_view factory;  // the manufacturer's name, "" when unknown
  // The same name where the manufacturers given to the read keep it; null
  // when unknown.
  const std::string* factoryName = nullptr;
  std::optional<Decimal> price;
  std::string_view priceNote;  // see Product::priceNote
  int64_t keyCode = -1;        // see Product::keyCode
};

// What a read gives besides the name, model, unit, manufacturer and price.
struct RowParts {
  bool ids = true;         // the ids (and the rows in the order of their ids)
  bool categories = true;  // the category ids
  bool keys = true;        // the codes of the matching keys, where the library's copy holds them
  bool inIdOrder = true;   // with ids: the rows in their order (otherwise as the copy holds them)
  bool factories = true;   // the manufacturers' names (otherwise "")
};

// The categories below `id` in a category tree (child id -> parent id), `id`
// itself included.
std::set<std::string> categoryWithDescendants(const std::map<std::string, std::string>& parents,
                                              const std::string& id);

using Factories = std::map<std::string, std::string, std::less<>>;

// Manufacturer id -> name, as a library's table Factory holds them.
Factories readFactories(ado::Database& db);

// The manufacturers' names of a library found by the text of an id, or by
// the number of a whole-number cell (the name of the id written as that
// number is written).
class FactoryNames {
 public:
  // `factories` must outlive the object: the names found lie there.
  explicit FactoryNames(const Factories& factories);
  // Null when unknown.
  const std::string* byText(std::string_view id) const;
  const std::string* byNumber(int64_t id) const;
  // The FactoryID cell `column` of the reader's current row, whose text is `text`.
  const std::string* ofCell(const ado::ColumnReader& r, std::size_t column, std::string_view text) const;

 private:
  std::unordered_map<std::string_view, const std::string*> byText_;
  std::vector<const std::string*> byNumber_;  // ids below a bound
};

// The price of a cell of a narrow read as the products carry it (nullopt
// when it is empty or not a number); `note` tells why a number that is there
// gives none (Product::priceNote), "" otherwise. `scratch` holds the cell's
// text while it is parsed.
std::optional<Decimal> cellPrice(const ado::ColumnReader& r, std::size_t column, std::string& scratch,
                                 std::string& note);

// A product as the comparison shows it.
struct ProductView {
  std::string id;
  std::string_view name, model, unit, factory, categoryId, factoryId;
};

// A product of a ProductTable: its id, its texts where the table keeps them
// and its manufacturer's name.
struct ProductEntry {
  std::string id;
  // Name, model and unit, shared by the products of the table that have the
  // same three texts: one pointer for such products, so equal pointers mean
  // equal texts.
  const char* texts = nullptr;
  const char* ids = nullptr;                 // category id, manufacturer id
  const std::string* factoryName = nullptr;  // in the table's manufacturers, null when unknown
  // The manufacturer's name, "" when unknown.
  std::string_view factory() const { return factoryName ? std::string_view(*factoryName) : std::string_view(); }
  ProductView view() const;
  // The name, model and unit.
  void nameModelUnit(std::string_view& name, std::string_view& model, std::string_view& unit) const;
};

// A whole library's products held compactly, for reading two months of
// 200,000 products at once: the texts packed in blocks that never move, one
// small entry per product, prices and key codes beside them.
class ProductTable {
 public:
  ProductTable() = default;
  ProductTable(const ProductTable&) = delete;
  ProductTable& operator=(const ProductTable&) = delete;
  ProductTable(ProductTable&&) = default;
  ProductTable& operator=(ProductTable&&) = default;

  std::string library;
  std::map<std::string, std::string> categoryParents;  // see LibraryProducts
  bool treeUnread = false;
  Factories factories;  // manufacturer id -> name

  std::size_t size() const { return entries_.size(); }
  const ProductEntry& operator[](std::size_t i) const { return entries_[i]; }
  const std::optional<Decimal>& price(std::size_t i) const { return prices_[i]; }
  const std::string& priceNote(std::size_t i) const;  // "" for nearly every product
  int64_t keyCode(std::size_t i) const { return codes_[i]; }

  // Keeps a product read with this table's `factories` (its manufacturer's
  // name lies there).
  void add(const ProductRow& row);
  // Name, model and unit of many products laid out as the table keeps them
  // (each text after its length, as putText writes it), kept in one piece:
  // where they lie now.
  const char* keepTexts(std::string_view packed);
  // Keeps a product whose name, model and unit the table keeps already
  // (`texts`, from keepTexts or an earlier product).
  void add(std::string_view id, const char* texts, std::string_view categoryId, std::string_view factoryId,
           const std::string* factoryName, const std::optional<Decimal>& price, std::string_view priceNote,
           int64_t keyCode);
  // Forgets every product added (not the manufacturers or the tree).
  void clearProducts();
  // After the last add: lets go of what adding needs only.
  void doneAdding();
  void reserve(std::size_t products);
  // Puts the products in a new order: order[k] is the one that goes to place k.
  void arrange(std::vector<uint32_t> order);

 private:
  char* room(std::size_t bytes);
  std::vector<ProductEntry> entries_;
  std::vector<std::optional<Decimal>> prices_;
  std::vector<int64_t> codes_;
  std::vector<std::pair<std::size_t, std::string>> notes_;  // by product, in order
  std::vector<std::unique_ptr<char[]>> blocks_;
  std::unordered_map<std::string_view, const char*> shared_;  // kept names, models and units, while adding
  std::string scratch_;
  char* next_ = nullptr;  // the free end of the last block
  std::size_t left_ = 0;  // and its size
};

struct LibraryProducts {
  std::string library;
  std::vector<Product> products;  // in the order of their ids
  // Category tree: id -> parent id.
  std::map<std::string, std::string> categoryParents;
  // The tree was asked for and could not be read (its reason in velmora.skip);
  // a category then reaches fewer subcategories than the library holds.
  bool treeUnread = false;
  // Manufacturer id -> name.
  std::map<std::string, std::string> factories;

  // The categories below `id`, `id` itself included.
  std::set<std::string> categoryWithDescendants(const std::string& id) const;
  // The index of the product with that id, -1 when there is none.
  int indexOf(const std::string& id) const;
};

// A library of the program folder (NAME.zdj, found whatever the letter case
// of its file name), opened on a connection of its own and held in memory
// until the object goes. Throws ado::Error when it cannot be opened (missing,
// damaged, wrong password).
class LibraryFile {
 public:
  // `project` is the program folder's pro.mdb, which must outlive the object;
  // without it, the one in the data module's slot 0 at the time of each use.
  LibraryFile(const std::string& libraryName, const ado::Connection& project);
  explicit LibraryFile(const std::string& libraryName);
  ~LibraryFile();
  LibraryFile(const LibraryFile&) = delete;
  LibraryFile& operator=(const LibraryFile&) = delete;

  const std::string& name() const { return name_; }
  // Whether the library's copy holds its products' matching keys (see
  // product_keys.h), so that keyCondition can be given as `where` below.
  bool keyed() const;

  // The price columns (see priceColumns below) with this library's column types.
  std::vector<PriceColumn> priceColumns() const;

  // The products with the price of one field, in the order of their ids;
  // only those `keep` accepts when given. Reads this library's connection
  // only, so that two libraries can be read at once on two threads. `where`, when not empty, is a row
  // condition on CLProduct that narrows what is read (it must let through
  // every product `keep` accepts). Throws ado::Error when CLProduct cannot be
  // read.
  // The category tree (categoryParents) is read unless `withTree` is false,
  // the codes of the products' matching keys (Product::keyCode) unless
  // `withKeys` is false.
  LibraryProducts products(const std::string& priceField,
                           const std::function<bool(const Product&)>& keep = nullptr,
                           const std::string& where = std::string(), bool withTree = true,
                           bool withKeys = true) const;

  // Each product as it is read (see products below), handed to `onRow` and
  // not kept. Name, model, unit, manufacturer and price are always read;
  // `parts` tells what else. Throws ado::Error when CLProduct cannot be read.
  void forEachRow(const std::string& priceField, const std::string& where, const RowParts& parts,
                  const std::function<void(const ProductRow&)>& onRow) const;
  using Factories = price_tools::Factories;
  // The same with the manufacturers' names read before (ProductRow::factory
  // then lies in `factories`).
  void forEachRow(const std::string& priceField, const std::string& where, const RowParts& parts,
                  const Factories& factories, const std::function<void(const ProductRow&)>& onRow) const;
  // Every product, with its category tree, held compactly (see ProductTable):
  // as the library's cache entry keeps them where it does (product_keys.h),
  // otherwise, or with `fromRows`, read from the rows; the same products
  // either way.
  ProductTable table(const std::string& priceField, bool fromRows = false) const;

  // The ids of the products a search of the toolbar finds here: the statement
  // the product grid's fill runs, with the condition this library gives
  // (data::searchCondition on its own connection, so 拼音简码 reads this
  // library's names). An unknown field or an empty text finds nothing; throws
  // ado::Error when it cannot run.
  std::set<std::string> searchIds(const std::string& field, const std::string& text) const;

 private:
  LibraryFile(const std::string& libraryName, const ado::Connection* project);
  const ado::Connection& project() const;
  Factories readFactories() const;
  // The category tree; false when it cannot be read.
  bool readTree(std::map<std::string, std::string>& parents) const;

  std::string name_;
  const ado::Connection* project_;
  std::unique_ptr<ado::Connection> connection_;
  std::string categoryParent_ = "ParentID";
};

// The same, each opening the library for the one call.
LibraryProducts loadProducts(const std::string& libraryName, const std::string& priceField);
std::set<std::string> searchIds(const std::string& libraryName, const std::string& field, const std::string& text);

}  // namespace price_tools
