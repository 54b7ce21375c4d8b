#include "price_tools/months/products.h"

#include <algorithm>
#include <climits>
#include <filesystem>

#include "common/text_case.h"
#include "data/browse.h"
#include "data/connections.h"
#include "data/files.h"
#include "data/layout.h"
#include "data/navigation.h"
#include "data/skip_on_error.h"
#include "data/table_settings.h"
#include "platform/database/adodb.h"
#include "platform/database/jet_database.h"
#include "platform/grid/vsflexgrid.h"
#include "price_tools/months/product_keys.h"

namespace price_tools {

namespace {

// The columns of a table of an open library, by lower-cased name.
std::map<std::string, ado::JetType> columnTypes(const ado::Connection& c, const std::string& table) {
  std::map<std::string, ado::JetType> out;
  for (const ado::TableInfo& t : c.database()->tables())
    if (common::asciiLower(t.name) == common::asciiLower(table))
      for (const ado::ColumnInfo& col : t.columns) out[common::asciiLower(col.name)] = col.type;
  return out;
}

bool numeric(ado::JetType t) {
  using J = ado::JetType;
  return t == J::Byte || t == J::Integer || t == J::Long || t == J::Currency || t == J::Single || t == J::Double ||
         t == J::Numeric;
}

std::string title(const platform::VSFlexGrid& g, int c) {
  const std::string& upper = g.TextMatrix(0, c);
  if (g.RowHidden(1)) return upper;
  const std::string& lower = g.TextMatrix(1, c);
  return upper == lower ? upper : upper + "-" + lower;
}

// A field of CLProduct as the layout names it (Name or CLProduct.Name); ""
// for a field of another table.
std::string productField(const std::string& field) {
  const size_t dot = field.find('.');
  if (dot == std::string::npos) return field;
  if (common::asciiLower(field.substr(0, dot)) != "clproduct") return "";
  return field.substr(dot + 1);
}

}  // namespace

LibraryFile::LibraryFile(const std::string& libraryName, const ado::Connection& project)
    : LibraryFile(libraryName, &project) {}

LibraryFile::LibraryFile(const std::string& libraryName) : LibraryFile(libraryName, nullptr) {}

const ado::Connection& LibraryFile::project() const { return project_ ? *project_ : data::connections(0); }

LibraryFile::LibraryFile(const std::string& libraryName, const ado::Connection* given)
    : name_(libraryName), project_(given), connection_(std::make_unique<ado::Connection>()) {
  // A listed name is the file name without ".zdj", or the whole real file
  // name where that would be ambiguous (libraryList).
  useProductKeys();
  connection_->Open(data::libraryConnectionString(data::libraryFileName(libraryName)));
  // The parent-link column of the category tree, as the category grid's
  // settings name it. Looked up here, so that reading products touches
  // nothing but this library's own connection.
  data::skipOnError("price tools: category settings", [&] {
    const std::string parent = data::tableSettings(project(), "Category").syid;
    if (!parent.empty()) categoryParent_ = parent;
  });
}

LibraryFile::~LibraryFile() {
  try {
    connection_->Close();
  } catch (...) {
  }
}

bool LibraryFile::keyed() const { return hasProductKeys(*connection_->database()); }

std::vector<PriceColumn> priceColumns(const std::string& libraryName) { return LibraryFile(libraryName).priceColumns(); }

std::vector<PriceColumn> LibraryFile::priceColumns() const {
  platform::VSFlexGrid grid;
  data::prepareNavigatorGrid(grid);
  data::layoutgridOn(grid, "CLProduct", project(), *connection_);
  const auto types = columnTypes(*connection_, "CLProduct");
  std::vector<PriceColumn> out;
  for (int c = grid.FixedCols(); c < grid.Cols() - 2; ++c) {
    if (grid.ColHidden(c) || grid.ColWidth(c) == 0) continue;
    const std::string field = productField(grid.TextMatrix(2, c));
    auto it = types.find(common::asciiLower(field));
    if (field.empty() || it == types.end() || !numeric(it->second)) continue;
    out.push_back({title(grid, c), field, grid.ColFormat(c)});
  }
  return out;
}

std::optional<PriceColumn> findPriceColumn(const std::vector<PriceColumn>& columns, const std::string& title) {
  if (columns.empty()) return std::nullopt;
  if (title.empty()) return columns.front();
  for (const PriceColumn& c : columns)
    if (c.title == title) return c;
  return std::nullopt;
}

std::set<std::string> LibraryProducts::categoryWithDescendants(const std::string& id) const {
  std::map<std::string, std::vector<std::string>> children;
  for (const auto& [child, parent] : categoryParents)
    if (child != parent) children[parent].push_back(child);
  std::set<std::string> out{id};
  std::vector<std::string> todo{id};
  while (!todo.empty()) {
    const std::string cur = todo.back();
    todo.pop_back();
    for (const std::string& c : children[cur])
      if (out.insert(c).second) todo.push_back(c);
  }
  return out;
}

int LibraryProducts::indexOf(const std::string& id) const {
  for (size_t i = 0; i < products.size(); ++i)
    if (products[i].id == id) return static_cast<int>(i);
  return -1;
}

LibraryProducts loadProducts(const std::string& libraryName, const std::string& priceField) {
  return LibraryFile(libraryName).products(priceField);
}

LibraryProducts LibraryFile::products(const std::string& priceField,
                                      const std::function<bool(const Product&)>& keep,
                                      const std::string& where, bool withTree, bool withKeys) const {
  LibraryProducts out;
  out.library = name_;
  const ado::Connection& connection = *connection_;
  const auto columns = columnTypes(connection, "CLProduct");
  auto has = [&](const char* name) { return columns.count(name) > 0; };
  const bool model = has("model"), unit = has("unit");
  const bool price = !priceField.empty() && columns.count(common::asciiLower(priceField));

  // Rows are taken as they are read: a library's products are not held twice.
  ado::Database& db = *connection.database();
  db.forEachRow("select ID, Name from Factory",
                [&](std::vector<ado::Variant>& r) { out.factories[r[0].toText()] = r[1].toText(); });
  if (withTree) out.treeUnread = !data::skipOnError("price tools: category parents", [&] {
    db.forEachRow("select ID, " + categoryParent_ + " from Category",
                  [&](std::vector<ado::Variant>& r) { out.categoryParents[r[0].toText()] = r[1].toText(); });
  });

  // Columns a library lacks are left out of the statement (their values stay empty).
  std::string statement = "select ID, Name, CategoryID, FactoryID";
  int next = 4;
  auto optional = [&](bool present, const std::string& column) {
    if (!present) return -1;
    statement += ", " + column;
    return next++;
  };
  const int modelAt = optional(model, "Model");
  const int unitAt = optional(unit, "Unit");
  const int priceAt = optional(price, priceField);
  // The key codes, by rowid: for a whole library read in one pass beside
  // it, for a few products looked up after them.
  const bool keyed = withKeys && hasProductKeys(db);
  std::vector<std::pair<int64_t, int64_t>> codes;
  if (keyed && where.empty()) codes = keyCodes(db);
  std::vector<int64_t> rids;
  const int keyAt = optional(keyed, "CLProduct.rowid");
  statement += " from CLProduct";
  if (!where.empty()) statement += " where " + where;
  statement += " order by ID";
  auto textOf = [](ado::Variant& v) { return v.takeText(); };
  if (!keep && where.empty())
    for (const ado::TableInfo& t : db.tables())
      if (common::asciiLower(t.name) == "clproduct") out.products.reserve(static_cast<size_t>(t.rowCount));
  db.forEachRow(statement, [&](std::vector<ado::Variant>& r) {
    Product p;
    p.id = textOf(r[0]);
    p.name = textOf(r[1]);
    p.categoryId = textOf(r[2]);
    p.factoryId = textOf(r[3]);
    if (modelAt >= 0) p.model = textOf(r[size_t(modelAt)]);
    if (unitAt >= 0) p.unit = textOf(r[size_t(unitAt)]);
    if (priceAt >= 0) {
      ado::Variant& v = r[size_t(priceAt)];
      p.price = Decimal::fromVariant(v);
      if (!p.price && (v.type() == ado::Variant::Type::Double || v.type() == ado::Variant::Type::Single))
        p.priceNote = "price cannot be represented: " + v.toText();
    }
    int64_t rid = 0;
    if (keyAt >= 0) {
      rid = r[size_t(keyAt)].toInt64();
      const auto at = std::lower_bound(codes.begin(), codes.end(), std::make_pair(rid, INT64_MIN));
      if (at != codes.end() && at->first == rid) p.keyCode = at->second;
    }
    auto f = out.factories.find(p.factoryId);
    if (f != out.factories.end()) p.factory = f->second;
    if (!keep || keep(p)) {
      out.products.push_back(std::move(p));
      if (keyed && !where.empty()) rids.push_back(rid);
    }
  });
  if (!rids.empty()) {
    const std::vector<int64_t> found = codesOfRows(db, rids);
    for (size_t i = 0; i < rids.size(); ++i) out.products[i].keyCode = found[i];
  }
  return out;
}

std::set<std::string> searchIds(const std::string& libraryName, const std::string& field, const std::string& text) {
  return LibraryFile(libraryName).searchIds(field, text);
}

std::set<std::string> LibraryFile::searchIds(const std::string& field, const std::string& text) const {
  std::set<std::string> ids;
  if (text.empty()) return ids;
  // The condition of this library: a 拼音简码 search names its own ids.
  const auto condition = data::searchCondition(*connection_, field, text);
  if (!condition) return ids;
  const std::string inner = data::tableSettings(project(), "CLProduct").inner;
  ado::Recordset rs;
  rs.Open("select CLProduct.ID from CLProduct" + inner + " where " + *condition, *connection_);
  for (long i = 0, n = rs.RecordCount(); i < n; ++i, rs.MoveNext()) ids.insert(rs.Fields(0).Value().toText());
  return ids;
}

}  // namespace price_tools
