#include "data/navigation.h"

#include "common/text_case.h"

#include <charconv>

#include "common/program_folder.h"
#include "data/connections.h"
#include "data/files.h"

namespace data {

std::string idText(const std::string& text) {
  const size_t b = text.find_first_not_of(' ');
  if (b == std::string::npos) return "0";
  const size_t e = text.find_last_not_of(' ');
  const std::string t = text.substr(b, e - b + 1);
  size_t digits = t[0] == '-' ? 1 : 0;
  if (digits == t.size()) return "0";
  for (size_t i = digits; i < t.size(); ++i)
    if (t[i] < '0' || t[i] > '9') return "0";
  long long v = 0;
  auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  if (ec != std::errc() || p != t.data() + t.size()) return "0";
  return std::to_string(v);
}

std::string currentRowId(const platform::VSFlexGrid& grid) {
  const int row = grid.Row();
  if (row < 0 || row >= grid.Rows() || grid.Cols() < 1) return "0";
  return idText(grid.TextMatrix(row, grid.Cols() - 1));
}

int rowWithId(const platform::VSFlexGrid& grid, const std::string& id) {
  if (grid.Cols() < 1) return -1;
  for (int r = grid.FixedRows(); r < grid.Rows(); ++r)
    if (grid.TextMatrix(r, grid.Cols() - 1) == id) return r;
  return -1;
}

int pageRow(const platform::VSFlexGrid& products) {
  int r = products.Row();
  if (r > products.Rows() - 1 || r <= products.LastHeaderRow()) r = products.Rows() - 1;
  return r;
}

PageKey pageKey(const platform::VSFlexGrid& products) {
  PageKey key;
  const int r = pageRow(products);
  const int cols = products.Cols();
  if (r < 0 || cols < 3) return key;
  key.factoryId = idText(products.TextMatrix(r, cols - 2));
  key.categoryId = idText(products.TextMatrix(r, cols - 3));
  return key;
}

bool pageNameStaysInFolder(const std::string& name) {
  if (name.find('\0') != std::string::npos) return false;
  // A drive ("C:\x", "C:x") or a share ("\\server\x", "//server/x").
  if (name.size() >= 2 && name[1] == ':') return false;
  if (name.size() >= 2 && (name[0] == '\\' || name[0] == '/') && (name[1] == '\\' || name[1] == '/')) return false;
  // No component may climb: "..", and "..." or ".. " as the system's file
  // names read them (trailing dots and blanks dropped), are the folder above.
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of("\\/", start);
    if (end == std::string::npos) end = name.size();
    const std::string part = name.substr(start, end - start);
    const size_t kept = part.find_last_not_of(". ");
    if (kept == std::string::npos && part.find("..") != std::string::npos) return false;
    start = end + 1;
  }
  return true;
}

std::string defaultPagePath() { return common::inProgramFolder("\\web\\Orvanta.htm"); }

PageTarget lookupPage(const PageKey& key, const std::string& serviceBase) {
  PageTarget target;
  target.address = defaultPagePath();
  ado::Recordset& rs = renewAuxrs();
  CloseOnExit closer(rs);
  openQuery(rs,
            "select * from HtmlRelational where CategoryID=" + idText(key.categoryId) +
                " and FactoryID=" + idText(key.factoryId),
            libraryslot);
  if (rs.RecordCount() < 1) return target;
  const std::string file = rs.Fields("HtmlFileName").Value().toText();
  if (!pageNameStaysInFolder(file)) return target;
  target.isDefault = false;
  if (const std::string path = common::inProgramFolder(file); !file.empty() && fileexists(path)) {
    target.isLocal = true;
    target.address = path;
  } else if (const std::string found = file.empty() ? std::string() : findProgramFile(file); !found.empty()) {
    // The page is installed under a name that differs in letter case.
    target.isLocal = true;
    target.address = found;
  } else {
    target.address = serviceBase + "/vosk" + file;
  }
  return target;
}

std::string doubleApostrophes(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out;
}

namespace {

std::vector<std::pair<std::string, SearchFieldCondition>>& searchFields() {
  static std::vector<std::pair<std::string, SearchFieldCondition>> fields;
  return fields;
}

}  // namespace

namespace {

// The condition of a search; `library` gives the library a registered field's
// condition is built from, asked for only by such a field.
std::optional<std::string> conditionOf(const std::string& field, const std::string& text,
                                       const std::function<const ado::Connection&()>& library) {
  // Full-width and half-width forms are one (ｈｒｂ400 finds HRB400): both the
  // names and the typed text are compared in their half-width forms.
  if (field == kSearchByName || field == kSearchByFactory) {
    const std::string typed = doubleApostrophes(common::narrowText(text));
    if (field == kSearchByName) return "StrConv(CLProduct.Name, 8) like '%" + typed + "%'";
    return "StrConv(Factory.Name, 8) like '%" + typed + "%'";
  }
  for (const auto& [name, condition] : searchFields())
    if (name == field) return condition(library(), text);
  return std::nullopt;
}

}  // namespace

std::optional<std::string> searchCondition(const std::string& field, const std::string& text) {
  return conditionOf(field, text, []() -> const ado::Connection& { return connections(libraryslot); });
}

std::optional<std::string> searchCondition(const ado::Connection& library, const std::string& field,
                                           const std::string& text) {
  return conditionOf(field, text, [&]() -> const ado::Connection& { return library; });
}

void registerSearchField(const std::string& name, SearchFieldCondition condition) {
  if (name == kSearchByName || name == kSearchByFactory) return;
  for (auto& [known, routine] : searchFields()) {
    if (known == name) {
      routine = std::move(condition);
      return;
    }
  }
  searchFields().emplace_back(name, std::move(condition));
}

std::vector<std::string> extraSearchFields() {
  std::vector<std::string> names;
  for (const auto& field : searchFields()) names.push_back(field.first);
  return names;
}

bool isSearchField(const std::string& field) {
  if (field == kSearchByName || field == kSearchByFactory) return true;
  for (const auto& known : searchFields())
    if (known.first == field) return true;
  return false;
}

}  // namespace data
