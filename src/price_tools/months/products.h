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
#include <vector>

#include "price_tools/months/decimal.h"

namespace ado {
class Connection;
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

  // The ids of the products a search of the toolbar finds here: the statement
  // the product grid's fill runs, with the condition this library gives
  // (data::searchCondition on its own connection, so 拼音简码 reads this
  // library's names). An unknown field or an empty text finds nothing; throws
  // ado::Error when it cannot run.
  std::set<std::string> searchIds(const std::string& field, const std::string& text) const;

 private:
  LibraryFile(const std::string& libraryName, const ado::Connection* project);
  const ado::Connection& project() const;

  std::string name_;
  const ado::Connection* project_;
  std::unique_ptr<ado::Connection> connection_;
  std::string categoryParent_ = "ParentID";
};

// The same, each opening the library for the one call.
LibraryProducts loadProducts(const std::string& libraryName, const std::string& priceField);
std::set<std::string> searchIds(const std::string& libraryName, const std::string& field, const std::string& text);

}  // namespace price_tools
