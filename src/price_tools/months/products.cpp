#include "price_tools/months/products.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <unordered_map>

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
#include "price_tools/months/arrange.h"
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

std::set<std::string> categoryWithDescendants(const std::map<std::string, std::string>& parents,
                                              const std::string& id) {
  std::map<std::string, std::vector<std::string>> children;
  for (const auto& [child, parent] : parents)
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

std::set<std::string> LibraryProducts::categoryWithDescendants(const std::string& id) const {
  return price_tools::categoryWithDescendants(categoryParents, id);
}

int LibraryProducts::indexOf(const std::string& id) const {
  for (size_t i = 0; i < products.size(); ++i)
    if (products[i].id == id) return static_cast<int>(i);
  return -1;
}

LibraryProducts loadProducts(const std::string& libraryName, const std::string& priceField) {
  return LibraryFile(libraryName).products(priceField);
}

Factories readFactories(ado::Database& db) {
  Factories out;
  db.forEachRow("select ID, Name from Factory", [&](std::vector<ado::Variant>& r) { out[r[0].toText()] = r[1].toText(); });
  return out;
}

LibraryFile::Factories LibraryFile::readFactories() const { return price_tools::readFactories(*connection_->database()); }

bool LibraryFile::readTree(std::map<std::string, std::string>& parents) const {
  return data::skipOnError("price tools: category parents", [&] {
    connection_->database()->forEachRow("select ID, " + categoryParent_ + " from Category",
                                        [&](std::vector<ado::Variant>& r) { parents[r[0].toText()] = r[1].toText(); });
  });
}

namespace {
// Manufacturer ids below this are also found by number.
constexpr int64_t kFactoryNumbers = 1 << 20;
}  // namespace

FactoryNames::FactoryNames(const Factories& factoryMap) {
  // Looked up once per row: by hash, the texts where the map keeps them.
  byText_.reserve(factoryMap.size());
  for (const auto& [id, name] : factoryMap) byText_.emplace(id, &name);
  // And, where ids are whole numbers written plainly (as a number cell's
  // text is), by number: a number cell finds its name without its text.
  for (const auto& [id, name] : factoryMap) {
    int64_t v = -1;
    const auto [end, ec] = std::from_chars(id.data(), id.data() + id.size(), v);
    char canonical[24];
    const auto written = std::to_chars(canonical, canonical + sizeof canonical, v).ptr;
    if (ec != std::errc() || end != id.data() + id.size() || v < 0 || v >= kFactoryNumbers ||
        std::string_view(canonical, static_cast<size_t>(written - canonical)) != id)
      continue;
    if (byNumber_.size() <= static_cast<size_t>(v)) byNumber_.resize(static_cast<size_t>(v) + 1);
    byNumber_[static_cast<size_t>(v)] = &name;
  }
}

const std::string* FactoryNames::byText(std::string_view id) const {
  const auto f = byText_.find(id);
  return f == byText_.end() ? nullptr : f->second;
}

const std::string* FactoryNames::byNumber(int64_t v) const {
  if (v >= 0 && v < kFactoryNumbers) {
    // Every id whose text this number's is lies in byNumber_.
    const auto at = static_cast<size_t>(v);
    return at < byNumber_.size() ? byNumber_[at] : nullptr;
  }
  char text[24];
  const auto end = std::to_chars(text, text + sizeof text, v).ptr;
  return byText(std::string_view(text, static_cast<size_t>(end - text)));
}

const std::string* FactoryNames::ofCell(const ado::ColumnReader& r, std::size_t column, std::string_view text) const {
  using T = ado::Variant::Type;
  const T t = r.type(column);
  if (t == T::Byte || t == T::Integer || t == T::Long) {
    const int64_t v = r.integer(column);
    if (v >= 0 && v < kFactoryNumbers) return byNumber(v);
  }
  return byText(text);
}

std::optional<Decimal> cellPrice(const ado::ColumnReader& r, std::size_t column, std::string& scratch,
                                 std::string& note) {
  note.clear();
  std::optional<Decimal> price = Decimal::fromCell(r, column, scratch);
  if (!price) {
    const ado::Variant::Type t = r.type(column);
    if (t == ado::Variant::Type::Double || t == ado::Variant::Type::Single)
      note = "price cannot be represented: " + std::string(r.toText(column, scratch));
  }
  return price;
}

void LibraryFile::forEachRow(const std::string& priceField, const std::string& where, const RowParts& parts,
                             const std::function<void(const ProductRow&)>& onRow) const {
  forEachRow(priceField, where, parts, readFactories(), onRow);
}

void LibraryFile::forEachRow(const std::string& priceField, const std::string& where, const RowParts& parts,
                             const Factories& factoryMap, const std::function<void(const ProductRow&)>& onRow) const {
  ado::Database& db = *connection_->database();
  const FactoryNames factories(factoryMap);
  // The key codes: for a whole library read in one pass beside it, for the
  // few rows a condition lets through looked up one by one.
  const bool keyed = parts.keys && hasProductKeys(db);
  // A read in the copy's order takes them beside it; one in the order of the
  // ids, from a list by rowid.
  const bool ordered = parts.ids && parts.inIdOrder;
  std::optional<KeyCodeStream> stream;
  std::vector<std::pair<int64_t, int64_t>> codes;
  std::optional<KeyCodeFinder> finder;
  if (keyed && where.empty() && !ordered) stream.emplace(db);
  if (keyed && where.empty() && ordered) codes = keyCodes(db);
  if (keyed && !where.empty()) finder.emplace(db);

  // Read straight from the engine, only the columns asked for; a column the
  // library lacks (model, unit, the price) reads as empty.
  enum { Id, Name, Category, Factory, Model, Unit, Price, Rid };
  ado::ColumnReader r(db, "CLProduct",
                            {parts.ids ? "ID" : "", "Name", parts.categories ? "CategoryID" : "", "FactoryID", "Model",
                             "Unit", priceField, keyed ? "rowid" : ""},
                            where, parts.ids && parts.inIdOrder ? "ID" : "");
  if (!r.has(Name) || !r.has(Factory) || (parts.ids && !r.has(Id)) || (parts.categories && !r.has(Category)))
    throw ado::Error(-2147217904, "No value given for one or more required parameters.");
  std::string scratch[7];
  std::string note;
  ProductRow row;
  while (r.next()) {
    if (parts.ids) row.id = r.toText(Id, scratch[Id]);
    row.name = r.toText(Name, scratch[Name]);
    if (parts.categories) row.categoryId = r.toText(Category, scratch[Category]);
    row.factoryId = r.toText(Factory, scratch[Factory]);
    row.model = r.toText(Model, scratch[Model]);
    row.unit = r.toText(Unit, scratch[Unit]);
    row.price = cellPrice(r, Price, scratch[Price], note);
    row.priceNote = note;
    row.keyCode = -1;
    if (keyed) {
      const int64_t rid = r.integer(Rid);
      if (finder) {
        row.keyCode = (*finder)(rid);
      } else if (stream) {
        row.keyCode = (*stream)(rid);
      } else {
        const auto at = std::lower_bound(codes.begin(), codes.end(), std::make_pair(rid, INT64_MIN));
        if (at != codes.end() && at->first == rid) row.keyCode = at->second;
      }
    }
    if (parts.factories) {
      row.factoryName = factories.ofCell(r, Factory, row.factoryId);
      row.factory = row.factoryName ? std::string_view(*row.factoryName) : std::string_view();
    }
    onRow(row);
  }
}

LibraryProducts LibraryFile::products(const std::string& priceField,
                                      const std::function<bool(const Product&)>& keep,
                                      const std::string& where, bool withTree, bool withKeys) const {
  LibraryProducts out;
  out.library = name_;
  const Factories factories = readFactories();  // read once, for the rows and the result
  for (auto& [id, name] : factories) out.factories.emplace(id, name);
  if (withTree) out.treeUnread = !readTree(out.categoryParents);
  if (!keep && where.empty())
    for (const ado::TableInfo& t : connection_->database()->tables())
      if (common::asciiLower(t.name) == "clproduct") out.products.reserve(static_cast<size_t>(t.rowCount));
  RowParts parts;
  parts.keys = withKeys;
  forEachRow(priceField, where, parts, factories, [&](const ProductRow& r) {
    Product p;
    p.id = r.id;
    p.name = r.name;
    p.model = r.model;
    p.unit = r.unit;
    p.factory = r.factory;
    p.categoryId = r.categoryId;
    p.factoryId = r.factoryId;
    p.price = r.price;
    p.priceNote = r.priceNote;
    p.keyCode = r.keyCode;
    if (!keep || keep(p)) out.products.push_back(std::move(p));
  });
  return out;
}

ProductTable LibraryFile::table(const std::string& priceField, bool fromRows) const {
  ProductTable out;
  out.library = name_;
  out.factories = readFactories();
  out.treeUnread = !readTree(out.categoryParents);
  // The products as the library's cache entry keeps them for this read,
  // where it does; otherwise read from the rows.
  if (!fromRows && readKeptProducts(*connection_->database(), priceField, out)) return out;
  bool wholeIds = false;  // the ids are whole numbers: Byte, Integer or Long
  for (const ado::TableInfo& t : connection_->database()->tables())
    if (common::asciiLower(t.name) == "clproduct") {
      out.reserve(static_cast<size_t>(std::max(0L, t.rowCount)));
      for (const ado::ColumnInfo& c : t.columns)
        if (common::asciiLower(c.name) == "id")
          wholeIds = c.type == ado::JetType::Byte || c.type == ado::JetType::Integer || c.type == ado::JetType::Long;
    }
  // Whole-number ids are put in order here, faster than the engine sorts
  // whole rows: by number, the empty ones first, equal ones as the copy
  // holds them, as the engine orders them. Other ids are ordered by the
  // engine.
  RowParts parts;
  parts.inIdOrder = !wholeIds;
  std::vector<std::pair<int64_t, uint32_t>> ids;
  bool numbers = true;
  if (wholeIds) ids.reserve(out.size());
  forEachRow(priceField, {}, parts, out.factories, [&](const ProductRow& r) {
    if (wholeIds && numbers) {
      int64_t v = INT64_MIN;  // empty
      if (!r.id.empty()) {
        const auto [end, ec] = std::from_chars(r.id.data(), r.id.data() + r.id.size(), v);
        numbers = ec == std::errc() && end == r.id.data() + r.id.size() && v != INT64_MIN;
      }
      ids.emplace_back(v, static_cast<uint32_t>(ids.size()));
    }
    out.add(r);
  });
  out.doneAdding();
  if (!wholeIds) return out;
  if (!numbers) {
    // Not what the copy of such a column holds: read again in the engine's order.
    ProductTable again;
    again.library = name_;
    again.factories = readFactories();
    again.categoryParents = std::move(out.categoryParents);
    again.treeUnread = out.treeUnread;
    out = ProductTable();
    forEachRow(priceField, {}, RowParts{}, again.factories, [&](const ProductRow& r) { again.add(r); });
    again.doneAdding();
    return again;
  }
  if (std::is_sorted(ids.begin(), ids.end())) return out;  // the copy holds them in order already
  std::sort(ids.begin(), ids.end());
  std::vector<uint32_t> order(ids.size());
  for (size_t k = 0; k < ids.size(); ++k) order[k] = ids[k].second;
  ids = {};
  out.arrange(std::move(order));
  return out;
}

namespace {

const std::string kEmpty;
constexpr std::size_t kTextBlock = std::size_t(1) << 20;

// Each text is kept after its length, in seven bits a byte (the high bit
// set on every byte but the last): one byte for nearly every text.
std::string_view nextText(const char*& at) {
  std::size_t n = 0;
  for (int shift = 0;; shift += 7) {
    const auto b = static_cast<unsigned char>(*at++);
    n |= static_cast<std::size_t>(b & 0x7F) << shift;
    if (!(b & 0x80)) break;
  }
  const std::string_view out(at, n);
  at += n;
  return out;
}

std::size_t lengthBytes(std::size_t n) {
  std::size_t bytes = 1;
  for (; n >= 0x80; n >>= 7) ++bytes;
  return bytes;
}

char* putText(char* at, std::string_view text) {
  std::size_t n = text.size();
  for (; n >= 0x80; n >>= 7) *at++ = static_cast<char>((n & 0x7F) | 0x80);
  *at++ = static_cast<char>(n);
  std::memcpy(at, text.data(), text.size());
  return at + text.size();
}

}  // namespace

ProductView ProductEntry::view() const {
  ProductView v;
  v.id = id;
  const char* at = texts;
  v.name = nextText(at);
  v.model = nextText(at);
  v.unit = nextText(at);
  at = ids;
  v.categoryId = nextText(at);
  v.factoryId = nextText(at);
  v.factory = factory();
  return v;
}

void ProductEntry::nameModelUnit(std::string_view& name, std::string_view& model, std::string_view& unit) const {
  const char* at = texts;
  name = nextText(at);
  model = nextText(at);
  unit = nextText(at);
}

const std::string& ProductTable::priceNote(std::size_t i) const {
  const auto at = std::lower_bound(notes_.begin(), notes_.end(), i,
                                   [](const std::pair<std::size_t, std::string>& n, std::size_t k) { return n.first < k; });
  return at != notes_.end() && at->first == i ? at->second : kEmpty;
}

void ProductTable::doneAdding() { shared_ = {}; scratch_ = {}; }

void ProductTable::reserve(std::size_t products) {
  entries_.reserve(products);
  prices_.reserve(products);
  codes_.reserve(products);
}

char* ProductTable::room(std::size_t bytes) {
  if (bytes > left_) {
    // A text too long for a block gets one of its own.
    const std::size_t size = std::max(bytes, kTextBlock);
    blocks_.emplace_back(new char[size]);
    next_ = blocks_.back().get();
    left_ = size;
  }
  char* at = next_;
  next_ += bytes;
  left_ -= bytes;
  return at;
}

void ProductTable::arrange(std::vector<uint32_t> order) {
  std::vector<uint32_t> placeOf(order.size());
  for (size_t k = 0; k < order.size(); ++k) placeOf[order[k]] = static_cast<uint32_t>(k);
  for (auto& [i, note] : notes_) i = placeOf[i];
  std::sort(notes_.begin(), notes_.end(),
            [](const std::pair<std::size_t, std::string>& a, const std::pair<std::size_t, std::string>& b) {
              return a.first < b.first;
            });
  placeOf = {};
  ProductEntry entry;
  std::optional<Decimal> price;
  int64_t code = 0;
  arrangeInPlace(
      order,
      [&](size_t k) {
        entry = std::move(entries_[k]);
        price = prices_[k];
        code = codes_[k];
      },
      [&](size_t to, size_t from) {
        entries_[to] = std::move(entries_[from]);
        prices_[to] = prices_[from];
        codes_[to] = codes_[from];
      },
      [&](size_t to) {
        entries_[to] = std::move(entry);
        prices_[to] = price;
        codes_[to] = code;
      });
}

void ProductTable::add(const ProductRow& r) {
  // Name, model and unit as they are kept, then kept once for all products
  // that have them.
  scratch_.clear();
  for (const std::string_view p : {r.name, r.model, r.unit}) {
    scratch_.resize(scratch_.size() + lengthBytes(p.size()) + p.size());
    putText(scratch_.data() + scratch_.size() - lengthBytes(p.size()) - p.size(), p);
  }
  const char* texts = nullptr;
  const auto known = shared_.find(scratch_);
  if (known != shared_.end()) {
    texts = known->second;
  } else {
    char* kept = room(scratch_.size());
    std::memcpy(kept, scratch_.data(), scratch_.size());
    shared_.emplace(std::string_view(kept, scratch_.size()), kept);
    texts = kept;
  }
  // (read with this table's manufacturers)
  add(r.id, texts, r.categoryId, r.factoryId, r.factoryName, r.price, r.priceNote, r.keyCode);
}

void ProductTable::add(std::string_view id, const char* texts, std::string_view categoryId,
                       std::string_view factoryId, const std::string* factoryName,
                       const std::optional<Decimal>& price, std::string_view priceNote, int64_t keyCode) {
  ProductEntry e;
  e.id = std::string(id);
  e.texts = texts;
  char* at = room(lengthBytes(categoryId.size()) + categoryId.size() + lengthBytes(factoryId.size()) +
                  factoryId.size());
  e.ids = at;
  at = putText(at, categoryId);
  putText(at, factoryId);
  e.factoryName = factoryName;
  if (!priceNote.empty()) notes_.emplace_back(entries_.size(), std::string(priceNote));
  entries_.push_back(std::move(e));
  prices_.push_back(price);
  codes_.push_back(keyCode);
}

const char* ProductTable::keepTexts(std::string_view packed) {
  char* kept = room(packed.size());
  if (!packed.empty()) std::memcpy(kept, packed.data(), packed.size());
  return kept;
}

void ProductTable::clearProducts() {
  entries_.clear();
  prices_.clear();
  codes_.clear();
  notes_.clear();
  blocks_.clear();
  shared_.clear();
  next_ = nullptr;
  left_ = 0;
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
