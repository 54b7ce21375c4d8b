#include "price_tools/pricelist/material_list.h"

#include <QByteArray>
#include <QString>
#include <QStringDecoder>
#include <QXmlStreamReader>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <functional>

#include "common/cp936.h"
#include "common/text_case.h"
#include "platform/zip/unzip.h"
#include "price_tools/months/matching.h"

namespace price_tools::pricelist {

namespace {

namespace fs = std::filesystem;

// Bounds of what a list may hold. A workbook is a zip archive of XML parts:
// it is read as the updater reads its archives (entry names, sizes, the
// expansion ratio), and into memory only within these sizes.
constexpr uint64_t kMaxEntries = 10000;
constexpr uint64_t kMaxPartBytes = uint64_t{200} << 20;
constexpr uint64_t kMaxWorkbookBytes = uint64_t{400} << 20;
constexpr uint64_t kMaxCsvBytes = uint64_t{200} << 20;
// All the cell texts kept, together (a cell that refers to a shared string
// copies it: a small sheet could otherwise expand a long string a million times).
constexpr uint64_t kMaxCellText = uint64_t{128} << 20;
constexpr size_t kMaxSharedStrings = size_t{1} << 20;  // a sheet's rows
constexpr int kMaxRows = 1048576;  // a worksheet's rows and columns
constexpr int kMaxColumns = 16384;
constexpr int kHeaderSearchRows = 20;

std::string fileName(const std::string& path) { return fs::path(path).filename().string(); }

[[noreturn]] void fail(const std::string& path, const std::string& what) {
  throw ListError(fileName(path) + ": " + what);
}

// ---------------------------------------------------------------------------
// Titles of the header row.

// Normalised as products are compared (full-width forms, letter case,
// blanks), with the blanks dropped: "材料 名称" is a title.
std::string folded(const std::string& text) {
  std::string out = price_tools::normalised(text);
  out.erase(std::remove(out.begin(), out.end(), ' '), out.end());
  return out;
}

struct TitleSet {
  ListColumn column;
  std::vector<std::string> titles;
};

const std::vector<TitleSet>& titleSets() {
  static const std::vector<TitleSet> sets = [] {
    std::vector<TitleSet> s = {
        {ListColumn::Name, {"名称", "材料名称", "材料（设备）名称", "项目名称", "名称及规格"}},
        {ListColumn::Model, {"规格", "规格型号", "型号规格", "型号"}},
        {ListColumn::Unit, {"单位", "计量单位"}},
        {ListColumn::Quantity, {"数量", "用量", "消耗量", "工程量"}},
        {ListColumn::Bid, {"单价", "预算价", "投标单价", "报价", "市场价"}},
        {ListColumn::Base, {"基准单价", "基期价"}},
        {ListColumn::Code, {"编码", "材料编码", "编号"}},
    };
    for (TitleSet& t : s)
      for (std::string& title : t.titles) title = folded(title);
    return s;
  }();
  return sets;
}

std::optional<ListColumn> columnOfTitle(const std::string& text) {
  std::string t = folded(text);
  for (int pass = 0; pass < 2; ++pass) {
    for (const TitleSet& set : titleSets())
      if (std::find(set.titles.begin(), set.titles.end(), t) != set.titles.end()) return set.column;
    // "单价(元)", "数量（t）": the unit in brackets after the title.
    if (t.empty() || t.back() != ')') break;
    const size_t open = t.rfind('(');
    if (open == std::string::npos || open == 0) break;
    t = t.substr(0, open);
  }
  return std::nullopt;
}

// ---------------------------------------------------------------------------
// The cells of a sheet, whatever file they came from.

struct Cell {
  int col = 0;  // from 0
  std::string text;
  std::string format;  // the cell's number format ("" for General or none)
};

struct Row {
  int number = 0;  // from 1
  std::vector<Cell> cells;  // in column order
};

// A merged area's value repeated down its first column (a 名称 merged over
// two lines names both).
struct MergeDown {
  int row1, row2, col;
};

struct Sheet {
  std::string name;
  std::vector<std::string> workbookSheets;  // every sheet's name, in workbook order
  std::vector<Row> rows;  // in row order
  std::vector<MergeDown> merges;
};

std::string trimmed(const std::string& s) {
  const QString q = QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())).trimmed();
  return q.toStdString();
}

std::string joinedCells(const Row& row) {
  std::string out;
  for (const Cell& c : row.cells) {
    const std::string t = trimmed(c.text);
    if (t.empty()) continue;
    if (!out.empty()) out += ' ';
    out += t;
  }
  return out;
}

MaterialList buildList(const std::string& path, Sheet sheet) {
  MaterialList list;
  list.path = path;
  list.sheet = sheet.name;
  list.sheets = std::move(sheet.workbookSheets);

  // The header row: a name column and one of model, unit and quantity.
  const Row* header = nullptr;
  for (const Row& row : sheet.rows) {
    if (row.number > kHeaderSearchRows) break;
    std::map<ListColumn, int> found;
    for (const Cell& c : row.cells)
      if (const auto column = columnOfTitle(c.text)) found.emplace(*column, c.col);
    if (found.count(ListColumn::Name) &&
        (found.count(ListColumn::Model) || found.count(ListColumn::Unit) || found.count(ListColumn::Quantity))) {
      header = &row;
      list.columns = std::move(found);
      break;
    }
  }
  if (!header) fail(path, "找不到表头（名称、规格型号、单位、数量）");
  list.headerRow = header->number;
  const int width = header->cells.back().col + 1;
  list.headers.assign(static_cast<size_t>(width), std::string());
  for (const Cell& c : header->cells) list.headers[static_cast<size_t>(c.col)] = trimmed(c.text);

  size_t at = 0;
  for (int r = 1; r < list.headerRow; ++r) {
    while (at < sheet.rows.size() && sheet.rows[at].number < r) ++at;
    list.titleRows.push_back(at < sheet.rows.size() && sheet.rows[at].number == r ? joinedCells(sheet.rows[at])
                                                                                   : std::string());
  }

  // Merges down, by column, for the cells below the header row.
  std::vector<std::vector<MergeDown>> mergesByColumn(static_cast<size_t>(width));
  for (const MergeDown& m : sheet.merges)
    if (m.col < width && m.row2 > m.row1 && m.row2 > list.headerRow)
      mergesByColumn[static_cast<size_t>(m.col)].push_back(m);
  for (auto& v : mergesByColumn)
    std::sort(v.begin(), v.end(), [](const MergeDown& a, const MergeDown& b) { return a.row1 < b.row1; });
  std::vector<std::map<int, std::string>> mergeValues(static_cast<size_t>(width));  // by first row
  auto mergeAt = [&](int row, int col) -> const MergeDown* {
    const auto& v = mergesByColumn[static_cast<size_t>(col)];
    auto it = std::upper_bound(v.begin(), v.end(), row, [](int r, const MergeDown& m) { return r < m.row1; });
    if (it == v.begin()) return nullptr;
    --it;
    return row <= it->row2 ? &*it : nullptr;
  };

  auto cellOf = [&](const ListLine& line, std::optional<ListColumn> column) -> std::string {
    if (!column || !list.has(*column)) return std::string();
    return line.cells[static_cast<size_t>(list.columns.at(*column))];
  };
  bool formatsTaken = false;
  list.numberFormats.assign(static_cast<size_t>(width), std::string());
  for (const Row& row : sheet.rows) {
    if (row.number <= list.headerRow) continue;
    ListLine line;
    line.row = row.number;
    line.cells.assign(static_cast<size_t>(width), std::string());
    std::vector<std::string> formats(static_cast<size_t>(width));
    for (const Cell& c : row.cells) {
      if (c.col >= width) break;
      line.cells[static_cast<size_t>(c.col)] = trimmed(c.text);
      formats[static_cast<size_t>(c.col)] = c.format;
    }
    for (int col = 0; col < width; ++col) {
      const MergeDown* m = mergeAt(row.number, col);
      if (!m) continue;
      auto& values = mergeValues[static_cast<size_t>(col)];
      if (row.number == m->row1)
        values[m->row1] = line.cells[static_cast<size_t>(col)];
      else if (line.cells[static_cast<size_t>(col)].empty())
        if (auto v = values.find(m->row1); v != values.end()) line.cells[static_cast<size_t>(col)] = v->second;
    }
    line.name = cellOf(line, ListColumn::Name);
    if (line.name.empty()) continue;
    line.model = cellOf(line, ListColumn::Model);
    line.unit = cellOf(line, ListColumn::Unit);
    if (isSubtotalLine(line.name, line.unit)) {
      list.subtotalRows.push_back(line.row);
      continue;
    }
    line.code = cellOf(line, ListColumn::Code);
    line.quantity = listNumber(cellOf(line, ListColumn::Quantity));
    if (list.has(ListColumn::Bid)) line.bid = listNumber(cellOf(line, ListColumn::Bid));
    if (list.has(ListColumn::Base)) line.base = listNumber(cellOf(line, ListColumn::Base));
    if (!formatsTaken) {
      list.numberFormats = std::move(formats);
      formatsTaken = true;
    }
    list.lines.push_back(std::move(line));
  }
  return list;
}

// ---------------------------------------------------------------------------
// Numbers.

// A number as a workbook stores it ("12.300000000000001", "1.2E-3") as the
// plain decimal text a spreadsheet shows: 15 significant digits, rounded half
// away from zero on the digits, needless zeros dropped. The text itself when
// it is not a number.
std::string storedNumberText(const std::string& v) {
  size_t i = 0;
  const bool negative = !v.empty() && v[0] == '-';
  if (!v.empty() && (v[0] == '-' || v[0] == '+')) ++i;
  std::string digits;
  int pointAt = -1;  // digits before the point
  for (; i < v.size() && (std::isdigit(static_cast<unsigned char>(v[i])) || v[i] == '.'); ++i) {
    if (v[i] == '.') {
      if (pointAt >= 0) return v;
      pointAt = static_cast<int>(digits.size());
    } else {
      digits += v[i];
    }
  }
  if (digits.empty()) return v;
  if (pointAt < 0) pointAt = static_cast<int>(digits.size());
  long exponent = 0;
  if (i < v.size() && (v[i] == 'e' || v[i] == 'E')) {
    ++i;
    bool expNegative = false;
    if (i < v.size() && (v[i] == '-' || v[i] == '+')) expNegative = v[i++] == '-';
    if (i >= v.size()) return v;
    for (; i < v.size() && std::isdigit(static_cast<unsigned char>(v[i])); ++i) {
      exponent = exponent * 10 + (v[i] - '0');
      if (exponent > 400) return v;
    }
    if (expNegative) exponent = -exponent;
  }
  if (i != v.size()) return v;
  // digits × 10^(pointAt + exponent − digits.size())
  size_t lead = digits.find_first_not_of('0');
  if (lead == std::string::npos) return "0";
  long point = pointAt + exponent - static_cast<long>(lead);
  digits = digits.substr(lead);
  if (digits.size() > 15) {
    const bool up = digits[15] >= '5';
    digits.resize(15);
    if (up) {
      int k = 14;
      while (k >= 0 && digits[static_cast<size_t>(k)] == '9') digits[static_cast<size_t>(k--)] = '0';
      if (k < 0) {
        digits.insert(digits.begin(), '1');
        digits.pop_back();
        ++point;
      } else {
        ++digits[static_cast<size_t>(k)];
      }
    }
  }
  while (digits.size() > 1 && digits.back() == '0' && static_cast<long>(digits.size()) > point) digits.pop_back();
  if (point > 30 || point < -30) return v;  // not a quantity or a price
  std::string out;
  if (point <= 0) {
    out = "0." + std::string(static_cast<size_t>(-point), '0') + digits;
  } else if (static_cast<size_t>(point) >= digits.size()) {
    out = digits + std::string(static_cast<size_t>(point) - digits.size(), '0');
  } else {
    out = digits.substr(0, static_cast<size_t>(point)) + "." + digits.substr(static_cast<size_t>(point));
  }
  if (out.find('.') != std::string::npos) {
    while (out.back() == '0') out.pop_back();
    if (out.back() == '.') out.pop_back();
  }
  return negative && out != "0" ? "-" + out : out;
}

// ---------------------------------------------------------------------------
// Workbooks.

struct XmlFault {
  std::string what;
};

// A workbook part as an XML reader. Parts with a document type declaration
// are refused: a workbook never has one, and its entities are the way to
// expand a small part into gigabytes.
class Part {
 public:
  Part(const std::string& name, const std::string& bytes)
      : name_(name), data_(QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()))), xml_(data_) {}

  // The next start element; false at the end.
  bool next() {
    while (!xml_.atEnd())
      if (read() == QXmlStreamReader::StartElement) return true;
    check();
    return false;
  }
  // The next token of any kind.
  QXmlStreamReader::TokenType read() {
    const auto token = xml_.readNext();
    if (token == QXmlStreamReader::DTD || token == QXmlStreamReader::EntityReference)
      throw XmlFault{name_ + " 含有文档类型声明（DTD），不是电子表格的内容"};
    return token;
  }
  // After a start element: its text up to the matching end (nested elements' text included).
  QString text() {
    const QString t = xml_.readElementText(QXmlStreamReader::IncludeChildElements);
    check();
    return t;
  }
  void skip() {
    xml_.skipCurrentElement();
    check();
  }
  QStringView local() const { return xml_.name(); }
  QString attr(const char* name) const { return xml_.attributes().value(QLatin1String(name)).toString(); }
  QXmlStreamReader& reader() { return xml_; }
  void check() {
    if (xml_.hasError()) throw XmlFault{name_ + " 已损坏（" + xml_.errorString().toStdString() + "）"};
  }

 private:
  std::string name_;
  QByteArray data_;
  QXmlStreamReader xml_;
};

// "AB12" -> column 27 (from 0), row 12. False for a reference no sheet can hold.
bool cellReference(const QString& ref, int& col, int& row) {
  int i = 0, c = 0, r = 0;
  const int n = static_cast<int>(ref.size());
  while (i < n && ref[i].isLetter() && ref[i].unicode() < 128) {
    c = c * 26 + (ref[i].toUpper().unicode() - 'A' + 1);
    if (c > kMaxColumns) return false;
    ++i;
  }
  if (c == 0) return false;
  const int digitsFrom = i;
  while (i < n && ref[i].isDigit() && ref[i].unicode() < 128) {
    r = r * 10 + (ref[i].unicode() - '0');
    if (r > kMaxRows) return false;
    ++i;
  }
  if (i != n || i == digitsFrom || r == 0) return false;
  col = c - 1;
  row = r;
  return true;
}

// The number formats a workbook has built in, by id.
std::string builtinFormat(int id) {
  static const std::map<int, std::string> formats = {
      {1, "0"},          {2, "0.00"},        {3, "#,##0"},       {4, "#,##0.00"},     {9, "0%"},
      {10, "0.00%"},     {11, "0.00E+00"},   {12, "# ?/?"},      {13, "# ?\?/??"},    {14, "mm-dd-yy"},
      {15, "d-mmm-yy"},  {16, "d-mmm"},      {17, "mmm-yy"},     {18, "h:mm AM/PM"},  {19, "h:mm:ss AM/PM"},
      {20, "h:mm"},      {21, "h:mm:ss"},    {22, "m/d/yy h:mm"}, {37, "#,##0 ;(#,##0)"}, {38, "#,##0 ;[Red](#,##0)"},
      {39, "#,##0.00;(#,##0.00)"}, {40, "#,##0.00;[Red](#,##0.00)"}, {45, "mm:ss"}, {46, "[h]:mm:ss"},
      {47, "mmss.0"},    {48, "##0.0E+0"},   {49, "@"}};
  const auto it = formats.find(id);
  return it == formats.end() ? std::string() : it->second;
}

class Workbook {
 public:
  Workbook(const std::string& path) : path_(path) {
    platform::UnzipLimits limits;
    limits.maxEntries = kMaxEntries;
    limits.maxEntryBytes = kMaxPartBytes;
    limits.maxTotalBytes = kMaxWorkbookBytes;
    const auto wanted = [](const std::string& name) {
      const std::string n = common::lowerText(name);
      return n.size() > 4 && (n.compare(n.size() - 4, 4, ".xml") == 0 || n.compare(n.size() - 5, 5, ".rels") == 0);
    };
    const platform::UnzipResult r = platform::readArchiveEntries(path, limits, wanted, parts_);
    if (r.code == platform::kUnzipTooLarge) fail(path, "工作簿过大或解压后过大，拒绝读取（" + r.message + "）");
    if (r.code == platform::kUnzipCannotOpen) fail(path, "无法打开工作簿（不是 .xlsx 文件或文件已损坏）");
    if (r.code != platform::kUnzipOk) fail(path, "工作簿已损坏（" + r.message + "）");
    for (const auto& [name, bytes] : parts_) byLowerName_[common::lowerText(name)] = name;
  }

  Sheet sheet(const std::string& wantedName) {
    try {
      return readSheet(wantedName);
    } catch (const XmlFault& f) {
      fail(path_, f.what);
    }
  }

 private:
  const std::string* part(const std::string& name) const {
    std::string n = name;
    while (!n.empty() && n.front() == '/') n.erase(n.begin());
    const auto it = byLowerName_.find(common::lowerText(n));
    return it == byLowerName_.end() ? nullptr : &parts_.at(it->second);
  }

  // A relationship target relative to the folder of the part that names it.
  static std::string resolved(const std::string& folder, const std::string& target) {
    if (!target.empty() && target.front() == '/') return target.substr(1);
    std::vector<std::string> steps;
    std::string all = folder.empty() ? target : folder + "/" + target;
    size_t start = 0;
    while (start <= all.size()) {
      size_t end = all.find('/', start);
      if (end == std::string::npos) end = all.size();
      const std::string step = all.substr(start, end - start);
      if (step == "..") {
        if (!steps.empty()) steps.pop_back();
      } else if (!step.empty() && step != ".") {
        steps.push_back(step);
      }
      start = end + 1;
    }
    std::string out;
    for (const std::string& s : steps) out += (out.empty() ? "" : "/") + s;
    return out;
  }

  static std::string folderOf(const std::string& partName) {
    const size_t slash = partName.rfind('/');
    return slash == std::string::npos ? std::string() : partName.substr(0, slash);
  }

  // id -> target of a part's relationships, and the first target of a type.
  std::map<std::string, std::string> relationships(const std::string& partName, const std::string& typeSuffix,
                                                   std::string* ofType) {
    std::map<std::string, std::string> out;
    const std::string folder = folderOf(partName);
    const std::string relsName = (folder.empty() ? "" : folder + "/") + "_rels/" +
                                 partName.substr(folder.empty() ? 0 : folder.size() + 1) + ".rels";
    const std::string* bytes = part(relsName);
    if (!bytes) return out;
    Part xml(relsName, *bytes);
    while (xml.next()) {
      if (xml.local() != u"Relationship") continue;
      const std::string target = resolved(folder, xml.attr("Target").toStdString());
      out[xml.attr("Id").toStdString()] = target;
      if (ofType && ofType->empty() && xml.attr("Type").endsWith(QString::fromStdString(typeSuffix)))
        *ofType = target;
    }
    return out;
  }

  std::vector<std::string> sharedStrings(const std::string& name) {
    std::vector<std::string> out;
    const std::string* bytes = name.empty() ? nullptr : part(name);
    if (!bytes) return out;
    Part xml(name, *bytes);
    uint64_t total = 0;
    while (xml.next()) {
      if (xml.local() != u"si") continue;
      if (out.size() >= kMaxSharedStrings)
        fail(path_, "共享字符串表过大（超过 " + std::to_string(kMaxSharedStrings) + " 项），拒绝读取");
      out.push_back(stringItem(xml));
      total += out.back().size();
      if (total > kMaxCellText) fail(path_, "共享字符串表过大，拒绝读取");
    }
    return out;
  }

  // The text of an <si> or <is>: its <t>, or the <t> of its runs; the
  // phonetic runs (<rPh>) are not part of it.
  static std::string stringItem(Part& xml) {
    QString text;
    QXmlStreamReader& r = xml.reader();
    int depth = 1;
    while (depth > 0 && !r.atEnd()) {
      const auto token = xml.read();
      if (token == QXmlStreamReader::StartElement) {
        if (r.name() == u"rPh") {
          r.skipCurrentElement();
        } else if (r.name() == u"t") {
          text += r.readElementText(QXmlStreamReader::IncludeChildElements);
        } else {
          ++depth;
        }
      } else if (token == QXmlStreamReader::EndElement) {
        --depth;
      }
    }
    xml.check();
    return text.toStdString();
  }

  // Style index -> number format.
  std::vector<std::string> styles(const std::string& name) {
    std::vector<std::string> out;
    const std::string* bytes = name.empty() ? nullptr : part(name);
    if (!bytes) return out;
    Part xml(name, *bytes);
    std::map<int, std::string> custom;
    bool inCellXfs = false;
    QXmlStreamReader& r = xml.reader();
    while (!r.atEnd()) {
      const auto token = xml.read();
      if (token == QXmlStreamReader::EndElement && r.name() == u"cellXfs") inCellXfs = false;
      if (token != QXmlStreamReader::StartElement) continue;
      if (r.name() == u"numFmt") {
        custom[xml.attr("numFmtId").toInt()] = xml.attr("formatCode").toStdString();
      } else if (r.name() == u"cellXfs") {
        inCellXfs = true;
      } else if (inCellXfs && r.name() == u"xf") {
        if (out.size() >= 65536) break;
        const int id = xml.attr("numFmtId").toInt();
        const auto c = custom.find(id);
        out.push_back(c != custom.end() ? c->second : builtinFormat(id));
      }
    }
    xml.check();
    return out;
  }

  Sheet readSheet(const std::string& wantedName) {
    std::string workbookName;
    relationships("", "/officeDocument", &workbookName);
    if (workbookName.empty() || !part(workbookName)) workbookName = "xl/workbook.xml";
    const std::string* workbookXml = part(workbookName);
    if (!workbookXml) fail(path_, "不是 .xlsx 工作簿（缺少 xl/workbook.xml）");
    std::string sharedName, stylesName;
    const auto rels = relationships(workbookName, "/sharedStrings", &sharedName);
    relationships(workbookName, "/styles", &stylesName);

    // The sheets in workbook order: name and relationship id.
    std::vector<std::pair<std::string, std::string>> sheets;
    {
      Part xml(workbookName, *workbookXml);
      while (xml.next()) {
        if (xml.local() != u"sheet") continue;
        QString id;
        for (const QXmlStreamAttribute& a : xml.reader().attributes())
          if (a.name() == u"id") id = a.value().toString();
        sheets.emplace_back(xml.attr("name").toStdString(), id.toStdString());
      }
    }
    if (sheets.empty()) fail(path_, "工作簿中没有工作表");
    size_t chosen = 0;
    if (!wantedName.empty()) {
      chosen = sheets.size();
      for (size_t i = 0; i < sheets.size() && chosen == sheets.size(); ++i)
        if (sheets[i].first == wantedName) chosen = i;
      for (size_t i = 0; i < sheets.size() && chosen == sheets.size(); ++i)
        if (common::lowerText(sheets[i].first) == common::lowerText(wantedName)) chosen = i;
      if (chosen == sheets.size()) fail(path_, "没有名为“" + wantedName + "”的工作表");
    }
    Sheet sheet;
    sheet.name = sheets[chosen].first;
    for (const auto& named : sheets) sheet.workbookSheets.push_back(named.first);
    const auto target = rels.find(sheets[chosen].second);
    const std::string* sheetXml = target == rels.end() ? nullptr : part(target->second);
    if (!sheetXml) fail(path_, "工作表“" + sheet.name + "”的内容缺失");

    const std::vector<std::string> shared = sharedStrings(sharedName);
    const std::vector<std::string> formats = styles(stylesName);
    readCells(target->second, *sheetXml, shared, formats, sheet);
    return sheet;
  }

  void readCells(const std::string& name, const std::string& bytes, const std::vector<std::string>& shared,
                 const std::vector<std::string>& formats, Sheet& sheet) {
    Part xml(name, bytes);
    QXmlStreamReader& r = xml.reader();
    uint64_t total = 0;
    int lastRow = 0;
    while (xml.next()) {
      const QStringView local = xml.local();
      if (local == u"mergeCell") {
        const QStringList ends = xml.attr("ref").split(u':');
        int c1, r1, c2, r2;
        if (ends.size() == 2 && cellReference(ends[0], c1, r1) && cellReference(ends[1], c2, r2) && r2 > r1 &&
            sheet.merges.size() < 1000000)
          sheet.merges.push_back({r1, r2, c1});
        continue;
      }
      if (local != u"row") continue;
      Row row;
      const QString rowAttr = xml.attr("r");
      row.number = rowAttr.isEmpty() ? lastRow + 1 : rowAttr.toInt();
      if (row.number <= lastRow || row.number > kMaxRows) throw XmlFault{name + " 的行号不对（" + rowAttr.toStdString() + "）"};
      lastRow = row.number;
      int nextCol = 0;
      // The cells of the row.
      while (!r.atEnd()) {
        const auto token = xml.read();
        if (token == QXmlStreamReader::EndElement && r.name() == u"row") break;
        if (token != QXmlStreamReader::StartElement) continue;
        if (r.name() != u"c") {
          r.skipCurrentElement();
          continue;
        }
        Cell cell;
        const QString ref = xml.attr("r");
        int col = nextCol, rr = row.number;
        if (!ref.isEmpty() && (!cellReference(ref, col, rr) || rr != row.number))
          throw XmlFault{name + " 的单元格位置不对（" + ref.toStdString() + "）"};
        if (col >= kMaxColumns || col < nextCol)
          throw XmlFault{name + " 的单元格位置不对（" + ref.toStdString() + "）"};
        cell.col = col;
        nextCol = col + 1;
        const QString type = xml.attr("t");
        const QString styleText = xml.attr("s");
        const int style = styleText.isEmpty() ? 0 : styleText.toInt();
        if (style >= 0 && static_cast<size_t>(style) < formats.size() && formats[static_cast<size_t>(style)] != "General")
          cell.format = formats[static_cast<size_t>(style)];
        QString value;
        std::string inlineText;
        bool hasInline = false;
        while (!r.atEnd()) {
          const auto t = xml.read();
          if (t == QXmlStreamReader::EndElement && r.name() == u"c") break;
          if (t != QXmlStreamReader::StartElement) continue;
          if (r.name() == u"v") {
            value = r.readElementText(QXmlStreamReader::IncludeChildElements);
          } else if (r.name() == u"is") {
            inlineText = stringItem(xml);
            hasInline = true;
          } else {
            r.skipCurrentElement();
          }
        }
        xml.check();
        if (type == u"s") {
          bool ok = false;
          const long index = value.trimmed().toLong(&ok);
          if (!ok || index < 0 || static_cast<size_t>(index) >= shared.size())
            throw XmlFault{name + " 引用了不存在的共享字符串（" + ref.toStdString() + "）"};
          cell.text = shared[static_cast<size_t>(index)];
        } else if (type == u"inlineStr") {
          cell.text = hasInline ? inlineText : value.toStdString();
        } else if (type == u"b") {
          cell.text = value.trimmed() == u"1" ? "TRUE" : "FALSE";
        } else if (type == u"str" || type == u"e" || type == u"d") {
          cell.text = value.toStdString();
        } else {
          cell.text = storedNumberText(value.trimmed().toStdString());
        }
        total += cell.text.size();
        if (total > kMaxCellText) fail(path_, "表格内容过大，拒绝读取");
        if (!cell.text.empty()) row.cells.push_back(std::move(cell));
      }
      xml.check();
      if (!row.cells.empty()) sheet.rows.push_back(std::move(row));
    }
  }

  std::string path_;
  std::map<std::string, std::string> parts_;
  std::map<std::string, std::string> byLowerName_;
};

// ---------------------------------------------------------------------------
// CSV.

bool validUtf8(const std::string& s) {
  QStringDecoder decoder(QStringDecoder::Utf8);
  const QString ignored = decoder(QByteArrayView(s.data(), static_cast<qsizetype>(s.size())));
  return !decoder.hasError();
}

// The text of a CSV file as UTF-8: a byte-order mark says UTF-8 (or UTF-16);
// otherwise bytes that are valid UTF-8 are UTF-8, and others GBK.
std::string csvText(const std::string& bytes) {
  if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return bytes.substr(3);
  if (bytes.size() >= 2 && (bytes.compare(0, 2, "\xFF\xFE") == 0 || bytes.compare(0, 2, "\xFE\xFF") == 0)) {
    const bool little = bytes[0] == '\xFF';
    std::u16string units;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
      const auto lo = static_cast<unsigned char>(bytes[little ? i : i + 1]);
      const auto hi = static_cast<unsigned char>(bytes[little ? i + 1 : i]);
      units.push_back(static_cast<char16_t>(lo | (hi << 8)));
    }
    return QString::fromUtf16(units.data(), static_cast<qsizetype>(units.size())).toStdString();
  }
  return validUtf8(bytes) ? bytes : common::fromCp936(bytes);
}

// Records of a CSV text: fields split by `separator`, quoted fields with
// doubled quotes and line breaks, lines ending in CR LF or LF.
Sheet csvSheet(const std::string& path, const std::string& text) {
  // The separator: a comma, unless the first lines hold tabs or semicolons and no comma.
  char separator = ',';
  {
    const std::string head = text.substr(0, std::min<size_t>(text.size(), 64 * 1024));
    const auto count = [&](char c) { return std::count(head.begin(), head.end(), c); };
    if (count(',') == 0) separator = count('\t') > 0 ? '\t' : count(';') > 0 ? ';' : ',';
  }
  Sheet sheet;
  Row row;
  row.number = 1;
  std::string field;
  int col = 0;
  bool quoted = false, wasQuoted = false;
  uint64_t total = 0;
  const auto endField = [&] {
    if (col >= kMaxColumns) fail(path, "第 " + std::to_string(row.number) + " 行的列数过多");
    total += field.size();
    if (total > kMaxCellText) fail(path, "表格内容过大，拒绝读取");
    if (!field.empty()) row.cells.push_back({col, std::move(field), std::string()});
    field.clear();
    ++col;
    wasQuoted = false;
  };
  const auto endRow = [&] {
    endField();
    const int next = row.number + 1;
    if (!row.cells.empty()) sheet.rows.push_back(std::move(row));
    row = Row();
    row.number = next;
    col = 0;
  };
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"') {
        if (i + 1 < text.size() && text[i + 1] == '"') {
          field += '"';
          ++i;
        } else {
          quoted = false;
        }
      } else {
        field += c;
      }
    } else if (c == '"' && field.empty() && !wasQuoted) {
      quoted = wasQuoted = true;
    } else if (c == separator) {
      endField();
    } else if (c == '\n' || c == '\r') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      endRow();
    } else {
      field += c;
    }
  }
  if (quoted) fail(path, "引号没有配对，文件不完整或已损坏");
  if (!field.empty() || col > 0) endRow();
  return sheet;
}

std::string lowerExtension(const std::string& path) {
  return common::lowerText(fs::path(path).extension().string());
}

}  // namespace

std::string foldedText(const std::string& text) { return folded(text); }

bool isSubtotalLine(const std::string& name, const std::string& unit) {
  // A subtotal names no unit: "钢筋 小计" with a unit of 吨 is a material.
  if (!folded(unit).empty()) return false;
  std::string n = folded(name);
  // Trailing punctuation and a bracketed currency: "合计：", "合计(元)", "小计（万元）".
  for (const char* tail : {"(元)", "(万元)", "（元）", ":", "：", "。"}) {
    const std::string t = folded(tail);
    while (n.size() >= t.size() && n.compare(n.size() - t.size(), t.size(), t) == 0) n.resize(n.size() - t.size());
  }
  static const char* const kLabels[] = {"小计", "合计", "总计", "共计", "累计"};
  for (const char* label : kLabels) {
    const std::string l = label;
    if (n.size() >= l.size() && n.compare(n.size() - l.size(), l.size(), l) == 0) return true;
  }
  return false;
}

std::optional<Decimal> listNumber(const std::string& text) {
  // Blanks (also full-width and no-break ones) around it, and commas between
  // groups of three digits.
  std::string t = trimmed(text);
  if (t.empty()) return std::nullopt;
  std::string mantissa, exponentText;
  const size_t e = t.find_first_of("eE");
  mantissa = t.substr(0, e);
  if (e != std::string::npos) exponentText = t.substr(e + 1);
  if (mantissa.find(',') != std::string::npos) {
    const size_t point = mantissa.find('.');
    const std::string whole = mantissa.substr(0, point);
    const size_t start = !whole.empty() && (whole[0] == '-' || whole[0] == '+') ? 1 : 0;
    // Every comma must sit before a group of exactly three digits.
    size_t digitsSince = 0;
    bool sawComma = false;
    std::string plain;
    for (size_t i = start; i < whole.size(); ++i) {
      if (whole[i] == ',') {
        if ((sawComma ? digitsSince != 3 : (digitsSince == 0 || digitsSince > 3))) return std::nullopt;
        sawComma = true;
        digitsSince = 0;
      } else {
        ++digitsSince;
        plain += whole[i];
      }
    }
    if (sawComma && digitsSince != 3) return std::nullopt;
    mantissa = whole.substr(0, start) + plain + (point == std::string::npos ? "" : mantissa.substr(point));
  }
  auto value = Decimal::parse(mantissa);
  if (!value || mantissa.find_first_of(" \t") != std::string::npos) return std::nullopt;
  if (e == std::string::npos) return value;
  // An exponent: the value shifted exactly, within what a Decimal holds.
  if (exponentText.empty()) return std::nullopt;
  size_t i = 0;
  bool negative = false;
  if (exponentText[0] == '-' || exponentText[0] == '+') negative = exponentText[i++] == '-';
  if (i >= exponentText.size() || exponentText.size() - i > 3) return std::nullopt;
  int exponent = 0;
  for (; i < exponentText.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(exponentText[i]))) return std::nullopt;
    exponent = exponent * 10 + (exponentText[i] - '0');
  }
  if (negative) exponent = -exponent;
  int64_t units = value->units();
  int scale = value->scale() - exponent;
  while (scale < 0) {
    if (units > INT64_MAX / 10 || units < INT64_MIN / 10) return std::nullopt;
    units *= 10;
    ++scale;
  }
  while (scale > 12 && units % 10 == 0 && units != 0) {
    units /= 10;
    --scale;
  }
  if (units == 0) return Decimal(0, 0);
  if (scale > 12) return std::nullopt;
  return Decimal(units, scale);
}

MaterialList readMaterialList(const std::string& path, const std::string& sheet) {
  std::error_code ec;
  const fs::path p = fs::path(path);
  if (!fs::is_regular_file(p, ec)) fail(path, ec || !fs::exists(p, ec) ? "文件不存在或无法读取" : "不是一个文件");
  std::ifstream in(p, std::ios::binary);
  if (!in) fail(path, "文件无法读取");
  std::array<char, 4> magic{};
  in.read(magic.data(), magic.size());
  const bool zip = in.gcount() == 4 && std::string(magic.data(), 4) == std::string("PK\x03\x04", 4);
  const std::string ext = lowerExtension(path);
  if (zip || ext == ".xlsx" || ext == ".xlsm") {
    if (!zip) fail(path, "不是 .xlsx 工作簿（文件头不对，文件可能已损坏）");
    Workbook workbook(path);
    return buildList(path, workbook.sheet(sheet));
  }
  if (ext == ".xls" || ext == ".et") fail(path, "只能读取 .xlsx 工作簿和 CSV 文件（请另存为 .xlsx）");
  if (!sheet.empty()) fail(path, "CSV 文件没有工作表“" + sheet + "”");
  const auto size = fs::file_size(p, ec);
  if (ec) fail(path, "文件无法读取");
  if (size > kMaxCsvBytes) fail(path, "文件过大（超过 " + std::to_string(kMaxCsvBytes >> 20) + " MB），拒绝读取");
  std::string bytes(static_cast<size_t>(size), '\0');
  in.seekg(0);
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (static_cast<uint64_t>(in.gcount()) != size) fail(path, "文件无法读取");
  if (bytes.find('\0') != std::string::npos && !(bytes.size() >= 2 && (bytes[0] == '\xFF' || bytes[0] == '\xFE')))
    fail(path, "不是文本文件（CSV）");
  return buildList(path, csvSheet(path, csvText(bytes)));
}

}  // namespace price_tools::pricelist
