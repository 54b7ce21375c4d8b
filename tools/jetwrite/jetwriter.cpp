// Jet 4 file writer.
//
// File layout written here (4096-byte pages):
//   page 0        database definition page (header, RC4-scrambled from 0x18)
//   page 1        data page holding the usage-map rows of every table
//   page 2        table definition of MSysObjects (readers look for it there)
//   then, per user table: its table definition page(s), its data pages and the
//   long-value (LVAL) pages of its memo values; then the catalog's data pages,
//   further usage-map row pages and usage-map bitmap pages (type 0x05) when a
//   table spans more pages than a map row can describe.
// No indexes are written.
#include "common/dates.h"
#include "jetwrite/jetwriter.h"

#include "common/atomic_file.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <map>

namespace jetwrite {

namespace {

constexpr int kPageSize = 4096;
constexpr int kDataHeader = 14;               // type, 1, free space, owner, 4 unknown, row count
constexpr int kMaxRowBytes = kPageSize - kDataHeader - 2;
constexpr int kMaxRowsPerPage = 255;          // row numbers are one byte in page/row pointers
constexpr int kInlineMemoLimit = 1024;        // longer memos go to LVAL pages
constexpr int kLvalChunk = kPageSize - kDataHeader - 2 - 4;
constexpr int kBitmapBytes = 64;              // bytes of an inline (type 0) usage map
constexpr uint32_t kTablesContainer = 0x0F000001;

using Page = std::array<uint8_t, kPageSize>;

void put16(uint8_t* p, uint32_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
void append16(std::string& s, uint32_t v) { s.push_back(char(v & 0xFF)); s.push_back(char((v >> 8) & 0xFF)); }
void append32(std::string& s, uint32_t v) {
    for (int i = 0; i < 4; ++i) s.push_back(char((v >> (8 * i)) & 0xFF));
}
void append64(std::string& s, uint64_t v) {
    for (int i = 0; i < 8; ++i) s.push_back(char((v >> (8 * i)) & 0xFF));
}
void appendDouble(std::string& s, double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, 8);
    append64(s, bits);
}

[[noreturn]] void fail(const std::string& what) { throw std::runtime_error(what); }

// UTF-8 to UTF-16; throws on malformed input.
std::u16string toUtf16(const std::string& s) {
    std::u16string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        uint32_t cp;
        int extra;
        if (c < 0x80) { cp = c; extra = 0; }
        else if ((c & 0xE0) == 0xC0) { cp = c & 0x1F; extra = 1; }
        else if ((c & 0xF0) == 0xE0) { cp = c & 0x0F; extra = 2; }
        else if ((c & 0xF8) == 0xF0) { cp = c & 0x07; extra = 3; }
        else fail("invalid UTF-8 text");
        for (int k = 1; k <= extra; ++k) {
            if (i + k >= s.size()) fail("invalid UTF-8 text");
            unsigned char cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80) fail("invalid UTF-8 text");
            cp = (cp << 6) | (cc & 0x3F);
        }
        static const uint32_t minimum[] = {0, 0x80, 0x800, 0x10000};
        if (cp < minimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) fail("invalid UTF-8 text");
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(char16_t(0xD800 + (cp >> 10)));
            out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(char16_t(cp));
        }
        i += extra + 1;
    }
    return out;
}

// Jet 4 text: "compressed unicode" (FF FE, then one byte per character) when every
// character fits in one byte, plain UCS-2 otherwise.
std::string encodeText(const std::u16string& u) {
    bool compressible = !u.empty();
    for (char16_t c : u)
        if (c == 0 || c > 0xFF) { compressible = false; break; }
    std::string out;
    if (compressible) {
        out.reserve(u.size() + 2);
        out.push_back(char(0xFF));
        out.push_back(char(0xFE));
        for (char16_t c : u) out.push_back(char(c));
    } else {
        out.reserve(u.size() * 2);
        for (char16_t c : u) append16(out, c);
    }
    return out;
}

// Column types as stored in the table definition.
enum RawType : uint8_t {
    kBool = 0x01, kByte = 0x02, kInt = 0x03, kLong = 0x04, kMoney = 0x05, kFloat = 0x06,
    kDouble = 0x07, kDateTime = 0x08, kText = 0x0A, kOle = 0x0B, kMemo = 0x0C, kGuid = 0x0F
};

struct ColumnInfo {
    std::string name;
    RawType type;
    int length = 0;       // Text: characters
    bool fixed = false;
    int size = 0;         // bytes in the fixed area (Yes/No: 0)
    int fixedOffset = 0;
    int varIndex = 0;
};

RawType rawType(ColumnType t) {
    switch (t) {
    case ColumnType::Text: return kText;
    case ColumnType::Memo: return kMemo;
    case ColumnType::Byte: return kByte;
    case ColumnType::Integer: return kInt;
    case ColumnType::Long: return kLong;
    case ColumnType::Single: return kFloat;
    case ColumnType::Double: return kDouble;
    case ColumnType::Currency: return kMoney;
    case ColumnType::DateTime: return kDateTime;
    case ColumnType::YesNo: return kBool;
    case ColumnType::Guid: return kGuid;
    }
    fail("unknown column type");
}

int fixedSize(RawType t) {
    switch (t) {
    case kByte: return 1;
    case kInt: return 2;
    case kLong: case kFloat: return 4;
    case kMoney: case kDouble: case kDateTime: return 8;
    case kGuid: return 16;
    default: return 0;
    }
}

// A table as it is laid out on disk.
struct Layout {
    std::string name;
    bool system = false;
    std::vector<ColumnInfo> columns;
    int fixedBytes = 0;
    int varCount = 0;
};

Layout makeLayout(const std::string& name, const std::vector<std::pair<std::string, std::pair<RawType, int>>>& cols,
                  bool system) {
    Layout l;
    l.name = name;
    l.system = system;
    for (const auto& [cname, td] : cols) {
        ColumnInfo c;
        c.name = cname;
        c.type = td.first;
        c.length = td.second;
        c.fixed = fixedSize(c.type) > 0 || c.type == kBool;
        c.size = fixedSize(c.type);
        if (c.fixed) {
            c.fixedOffset = l.fixedBytes;
            l.fixedBytes += c.size;
        } else {
            c.varIndex = l.varCount++;
        }
        l.columns.push_back(c);
    }
    return l;
}

// ---- value parsing -------------------------------------------------------

std::string trimmed(const std::string& s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

int64_t parseInteger(const std::string& text, int64_t lo, int64_t hi, const char* what) {
    std::string t = trimmed(text);
    int64_t v = 0;
    const char* b = t.data();
    const char* e = t.data() + t.size();
    if (!t.empty() && *b == '+') ++b;
    auto [p, ec] = std::from_chars(b, e, v);
    if (t.empty() || ec != std::errc() || p != e) fail("bad " + std::string(what) + " value \"" + text + "\"");
    if (v < lo || v > hi) fail(std::string(what) + " value " + text + " out of range");
    return v;
}

double parseReal(const std::string& text, const char* what) {
    std::string t = trimmed(text);
    double v = 0;
    const char* b = t.data();
    const char* e = t.data() + t.size();
    if (!t.empty() && *b == '+') ++b;
    auto [p, ec] = std::from_chars(b, e, v);
    if (t.empty() || ec != std::errc() || p != e || !std::isfinite(v))
        fail("bad " + std::string(what) + " value \"" + text + "\"");
    return v;
}

// Currency: a decimal with at most four places, stored as an integer count of
// ten-thousandths. Parsed exactly (no binary floating point on the way).
int64_t parseCurrency(const std::string& text) {
    std::string t = trimmed(text);
    auto bad = [&]() { fail("bad Currency value \"" + text + "\""); };
    size_t i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == '-' || t[i] == '+')) negative = t[i++] == '-';
    __int128 whole = 0;
    int digits = 0;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') {
        whole = whole * 10 + (t[i++] - '0');
        if (++digits > 16) fail("Currency value " + text + " out of range");
    }
    int frac = 0, places = 0;
    if (i < t.size() && t[i] == '.') {
        ++i;
        while (i < t.size() && t[i] >= '0' && t[i] <= '9') {
            if (places == 4) {
                if (t[i] != '0') fail("Currency value " + text + " has more than four decimal places");
            } else {
                frac = frac * 10 + (t[i] - '0');
                ++places;
            }
            ++i;
        }
    }
    if (i != t.size() || (digits == 0 && places == 0)) bad();
    while (places < 4) { frac *= 10; ++places; }
    __int128 v = whole * 10000 + frac;
    if (negative) v = -v;
    if (v > std::numeric_limits<int64_t>::max() || v < std::numeric_limits<int64_t>::min())
        fail("Currency value " + text + " out of range");
    return int64_t(v);
}

using common::daysFromCivil;

// "YYYY-MM-DD", "YYYY-MM-DD HH:MM" or "YYYY-MM-DD HH:MM:SS" (also with 'T'), to
// days since 1899-12-30 the way Jet stores them: before that day the whole part
// is negative while the time of day still counts forward.
double parseDateTime(const std::string& text) {
    std::string t = trimmed(text);
    auto bad = [&]() { fail("bad Date/Time value \"" + text + "\" (expected YYYY-MM-DD[ HH:MM[:SS]])"); };
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    auto num = [&](size_t pos, size_t len, int& out) {
        if (pos + len > t.size()) bad();
        auto [p, ec] = std::from_chars(t.data() + pos, t.data() + pos + len, out);
        if (ec != std::errc() || p != t.data() + pos + len) bad();
    };
    if (t.size() != 10 && t.size() != 16 && t.size() != 19) bad();
    num(0, 4, y);
    if (t[4] != '-' || t[7] != '-') bad();
    num(5, 2, mo);
    num(8, 2, d);
    if (t.size() > 10) {
        if (t[10] != ' ' && t[10] != 'T') bad();
        num(11, 2, h);
        if (t[13] != ':') bad();
        num(14, 2, mi);
        if (t.size() == 19) {
            if (t[16] != ':') bad();
            num(17, 2, s);
        }
    }
    static const int mdays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    if (y < 100 || mo < 1 || mo > 12 || d < 1 || d > mdays[mo - 1] || (mo == 2 && d == 29 && !leap) || h > 23 ||
        mi > 59 || s > 59)
        bad();
    int64_t days = daysFromCivil(y, unsigned(mo), unsigned(d)) - daysFromCivil(1899, 12, 30);
    double frac = (h * 3600 + mi * 60 + s) / 86400.0;
    return days >= 0 ? double(days) + frac : double(days) - frac;
}

bool parseYesNo(const std::string& text) {
    std::string t = trimmed(text);
    std::string l;
    for (char c : t) l.push_back(char(std::tolower(static_cast<unsigned char>(c))));
    if (l == "true" || l == "1" || l == "yes" || l == "-1") return true;
    if (l == "false" || l == "0" || l == "no") return false;
    fail("bad Yes/No value \"" + text + "\" (expected true or false)");
}

// ---- page file -----------------------------------------------------------

class PageFile {
public:
    uint32_t allocate() {
        pages_.emplace_back();
        pages_.back().fill(0);
        return uint32_t(pages_.size() - 1);
    }
    uint8_t* page(uint32_t n) { return pages_[n].data(); }
    size_t count() const { return pages_.size(); }
    std::string bytes() const {
        std::string out;
        out.resize(pages_.size() * kPageSize);
        for (size_t i = 0; i < pages_.size(); ++i) std::memcpy(&out[i * kPageSize], pages_[i].data(), kPageSize);
        return out;
    }

private:
    std::vector<Page> pages_;
};

// Fills data pages (type 0x01) with rows stored from the end of the page downwards.
class RowPage {
public:
    RowPage(PageFile& file, uint32_t page, uint32_t owner) : file_(file), page_(page) {
        uint8_t* p = file_.page(page_);
        p[0] = 0x01;
        p[1] = 0x01;
        put32(p + 4, owner);
        update();
    }
    uint32_t number() const { return page_; }
    int rows() const { return rows_; }
    bool fits(size_t bytes) const {
        return rows_ < kMaxRowsPerPage && int(bytes) + 2 <= free();
    }
    // Returns the row number.
    int add(const std::string& row) {
        uint8_t* p = file_.page(page_);
        top_ -= int(row.size());
        std::memcpy(p + top_, row.data(), row.size());
        put16(p + kDataHeader + 2 * rows_, uint32_t(top_));
        ++rows_;
        update();
        return rows_ - 1;
    }
    int free() const { return top_ - (kDataHeader + 2 * rows_); }

private:
    void update() {
        uint8_t* p = file_.page(page_);
        put16(p + 2, uint32_t(free()));
        put16(p + 12, uint32_t(rows_));
    }
    PageFile& file_;
    uint32_t page_;
    int rows_ = 0;
    int top_ = kPageSize;
};

uint32_t pageRow(uint32_t page, int row) { return (page << 8) | uint32_t(row); }

// Long values of memo columns.
class LvalWriter {
public:
    explicit LvalWriter(PageFile& file) : file_(file) {}
    // Returns the 12-byte memo field header for a value stored outside the row.
    std::string store(const std::string& data) {
        std::string header;
        uint32_t len = uint32_t(data.size());
        if (len > 0xFFFFFF) fail("memo value longer than 16 MB");
        if (int(data.size()) <= kMaxRowBytes) {
            if (!current_ || !current_->fits(data.size())) current_.emplace(file_, file_.allocate(), kLvalTag);
            int row = current_->add(data);
            append32(header, len | 0x40000000u);
            append32(header, pageRow(current_->number(), row));
            append32(header, 0);
            return header;
        }
        size_t chunks = (data.size() + kLvalChunk - 1) / kLvalChunk;
        std::vector<uint32_t> pages(chunks);
        for (auto& p : pages) p = file_.allocate();
        for (size_t i = 0; i < chunks; ++i) {
            RowPage page(file_, pages[i], kLvalTag);
            std::string row;
            append32(row, i + 1 < chunks ? pageRow(pages[i + 1], 0) : 0);
            row.append(data, i * kLvalChunk, kLvalChunk);
            page.add(row);
        }
        append32(header, len);
        append32(header, pageRow(pages[0], 0));
        append32(header, 0);
        return header;
    }

private:
    static constexpr uint32_t kLvalTag = 0x4C41564C;  // "LVAL"
    PageFile& file_;
    std::optional<RowPage> current_;
};

// "{6B29FC40-CA47-1067-B31D-00DD010662DA}" (braces optional): the first three
// groups stored little-endian, the last eight bytes as written.
std::string parseGuid(const std::string& text) {
    std::string t = trimmed(text);
    if (t.size() == 38 && t.front() == '{' && t.back() == '}') t = t.substr(1, 36);
    auto bad = [&] { fail("bad GUID value \"" + text + "\""); };
    if (t.size() != 36 || t[8] != '-' || t[13] != '-' || t[18] != '-' || t[23] != '-') bad();
    std::string hex;
    for (char c : t)
        if (c != '-') hex += c;
    if (hex.size() != 32 || hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) bad();
    std::string raw;
    for (size_t i = 0; i < 32; i += 2) raw.push_back(char(std::stoi(hex.substr(i, 2), nullptr, 16)));
    std::string out;
    for (int i = 3; i >= 0; --i) out.push_back(raw[size_t(i)]);
    out.push_back(raw[5]);
    out.push_back(raw[4]);
    out.push_back(raw[7]);
    out.push_back(raw[6]);
    out.append(raw, 8, 8);
    return out;
}

// A value ready to be placed in a row.
struct Cell {
    bool null = true;
    std::string bytes;   // fixed: little-endian value; text: encoded; memo: encoded text
};

Cell encodeCell(const ColumnInfo& c, const Value& v) {
    Cell cell;
    if (!v) return cell;
    cell.null = false;
    const std::string& t = *v;
    switch (c.type) {
    case kBool:
        cell.null = !parseYesNo(t);
        break;
    case kByte: cell.bytes.push_back(char(parseInteger(t, 0, 255, "Byte"))); break;
    case kInt: append16(cell.bytes, uint32_t(parseInteger(t, -32768, 32767, "Integer"))); break;
    case kLong:
        append32(cell.bytes, uint32_t(parseInteger(t, std::numeric_limits<int32_t>::min(),
                                                   std::numeric_limits<int32_t>::max(), "Long")));
        break;
    case kFloat: {
        double d = parseReal(t, "Single");
        if (std::fabs(d) > std::numeric_limits<float>::max()) fail("Single value " + t + " out of range");
        float f = float(d);
        uint32_t bits;
        std::memcpy(&bits, &f, 4);
        append32(cell.bytes, bits);
        break;
    }
    case kDouble: appendDouble(cell.bytes, parseReal(t, "Double")); break;
    case kMoney: append64(cell.bytes, uint64_t(parseCurrency(t))); break;
    case kDateTime: appendDouble(cell.bytes, parseDateTime(t)); break;
    case kGuid: cell.bytes = parseGuid(t); break;
    case kText: {
        std::u16string u = toUtf16(t);
        if (int(u.size()) > c.length)
            fail("text of " + std::to_string(u.size()) + " characters is longer than column " + c.name + " (" +
                 std::to_string(c.length) + ")");
        cell.bytes = encodeText(u);
        break;
    }
    case kMemo: cell.bytes = encodeText(toUtf16(t)); break;
    case kOle: cell.bytes = t; break;
    default: fail("unsupported column type");
    }
    return cell;
}

// Builds one row. Memo values longer than the inline limit, or those that would
// make the row too long for a page, are moved to LVAL pages.
std::string buildRow(const Layout& l, std::vector<Cell>& cells, LvalWriter& lval) {
    const size_t n = l.columns.size();
    const size_t maskBytes = (n + 7) / 8;
    std::vector<std::string> varParts(l.varCount);
    std::vector<bool> varNull(l.varCount, true);
    std::vector<size_t> inlineMemos;
    for (size_t i = 0; i < n; ++i) {
        const ColumnInfo& c = l.columns[i];
        if (c.fixed || cells[i].null) continue;
        varNull[c.varIndex] = false;
        if (c.type == kMemo || c.type == kOle) {
            const std::string& data = cells[i].bytes;
            if (data.size() <= size_t(kInlineMemoLimit)) {
                std::string h;
                append32(h, uint32_t(data.size()) | 0x80000000u);
                append32(h, 0);
                append32(h, 0);
                varParts[c.varIndex] = h + data;
                inlineMemos.push_back(i);
            } else {
                varParts[c.varIndex] = lval.store(data);
            }
        } else {
            varParts[c.varIndex] = cells[i].bytes;
        }
    }
    auto rowSize = [&]() {
        size_t s = 2 + size_t(l.fixedBytes) + maskBytes;
        if (l.varCount > 0) {
            for (const auto& p : varParts) s += p.size();
            s += 2 + 2 * size_t(l.varCount) + 2;
        }
        return s;
    };
    while (rowSize() > size_t(kMaxRowBytes) && !inlineMemos.empty()) {
        auto largest = std::max_element(inlineMemos.begin(), inlineMemos.end(), [&](size_t a, size_t b) {
            return cells[a].bytes.size() < cells[b].bytes.size();
        });
        size_t i = *largest;
        inlineMemos.erase(largest);
        varParts[l.columns[i].varIndex] = lval.store(cells[i].bytes);
    }
    if (rowSize() > size_t(kMaxRowBytes))
        fail("row is " + std::to_string(rowSize()) + " bytes, more than a page can hold (" +
             std::to_string(kMaxRowBytes) + ")");

    std::string row;
    row.reserve(rowSize());
    append16(row, uint32_t(n));
    std::string fixedArea(size_t(l.fixedBytes), '\0');
    std::string mask(maskBytes, '\0');
    for (size_t i = 0; i < n; ++i) {
        const ColumnInfo& c = l.columns[i];
        if (!cells[i].null) mask[i / 8] = char(uint8_t(mask[i / 8]) | (1u << (i % 8)));
        if (c.fixed && !cells[i].null && c.size > 0)
            std::memcpy(&fixedArea[size_t(c.fixedOffset)], cells[i].bytes.data(), size_t(c.size));
    }
    row += fixedArea;
    if (l.varCount > 0) {
        std::vector<uint32_t> offsets;
        for (int v = 0; v < l.varCount; ++v) {
            offsets.push_back(uint32_t(row.size()));
            row += varParts[v];
        }
        uint32_t eod = uint32_t(row.size());
        append16(row, eod);
        for (int v = l.varCount - 1; v >= 0; --v) append16(row, offsets[size_t(v)]);
        append16(row, uint32_t(l.varCount));
    }
    row += mask;
    return row;
}

// ---- table definitions and usage maps --------------------------------------

struct WrittenTable {
    Layout layout;
    uint32_t tdefPage = 0;
    std::vector<uint32_t> tdefPages;
    std::vector<uint32_t> dataPages;
    uint32_t rowCount = 0;
    uint32_t usedMap = 0;  // page/row pointers
    uint32_t freeMap = 0;
};

std::string tdefBody(const WrittenTable& t) {
    const Layout& l = t.layout;
    std::string b(8, '\0');  // page header, filled per page
    append32(b, 0);           // tdef_len, patched below
    append32(b, t.tdefPage);  // unknown; Access repeats it in every column entry
    append32(b, t.rowCount);
    append32(b, 0);           // next autonumber
    b.push_back(1);           // autonumber flag
    b.append(3, '\0');
    append32(b, 0);
    b.append(8, '\0');
    b.push_back(char(l.system ? 0x53 : 0x4E));
    append16(b, uint32_t(l.columns.size()));  // max columns
    append16(b, uint32_t(l.varCount));
    append16(b, uint32_t(l.columns.size()));
    append32(b, 0);  // logical indexes
    append32(b, 0);  // real indexes
    append32(b, t.usedMap);
    append32(b, t.freeMap);
    for (size_t i = 0; i < l.columns.size(); ++i) {
        const ColumnInfo& c = l.columns[i];
        std::string e;
        e.push_back(char(c.type));
        append32(e, t.tdefPage);
        append16(e, uint32_t(i));
        append16(e, c.fixed ? 0 : uint32_t(c.varIndex));
        append16(e, 0);
        bool textual = c.type == kText || c.type == kMemo;
        append16(e, textual ? 0x0409 : 0);
        append16(e, 0);
        e.push_back(char(c.fixed ? 0x13 : 0x12));
        e.push_back(char(textual ? 0x01 : 0x00));
        append32(e, 0);
        append16(e, c.fixed ? uint32_t(c.fixedOffset) : 0);
        uint32_t len = c.type == kText ? uint32_t(2 * c.length) : c.type == kBool ? 1 : uint32_t(c.size);
        append16(e, len);
        b += e;
    }
    for (const ColumnInfo& c : l.columns) {
        std::u16string u = toUtf16(c.name);
        append16(b, uint32_t(u.size() * 2));
        for (char16_t ch : u) append16(b, ch);
    }
    append16(b, 0xFFFF);  // end of the (empty) list of long-value usage maps
    put32(reinterpret_cast<uint8_t*>(&b[8]), uint32_t(b.size() - 8));
    return b;
}

int tdefPageCount(const std::string& body) {
    size_t payload = body.size() - 8;
    return int((payload + (kPageSize - 8) - 1) / (kPageSize - 8));
}

void writeTdef(PageFile& file, const WrittenTable& t) {
    std::string body = tdefBody(t);
    size_t pos = 8;
    for (size_t i = 0; i < t.tdefPages.size(); ++i) {
        uint8_t* p = file.page(t.tdefPages[i]);
        p[0] = 0x02;
        p[1] = 0x01;
        put32(p + 4, i + 1 < t.tdefPages.size() ? t.tdefPages[i + 1] : 0);
        size_t n = std::min(body.size() - pos, size_t(kPageSize - 8));
        std::memcpy(p + 8, body.data() + pos, n);
        pos += n;
        put16(p + 2, uint32_t(kPageSize - 8 - n));
    }
}

// The usage map of a table: inline (type 0) when its pages fit one bitmap
// window, else a list of bitmap pages (type 1).
std::string usageMap(PageFile& file, const std::vector<uint32_t>& pages, bool empty) {
    std::string row;
    if (pages.empty() || empty) {
        row.push_back(0);
        append32(row, pages.empty() ? 0 : pages.front());
        row.append(kBitmapBytes, '\0');
        return row;
    }
    uint32_t lo = *std::min_element(pages.begin(), pages.end());
    uint32_t hi = *std::max_element(pages.begin(), pages.end());
    if (hi - lo < uint32_t(kBitmapBytes * 8)) {
        row.push_back(0);
        append32(row, lo);
        std::string bits(kBitmapBytes, '\0');
        for (uint32_t p : pages) bits[(p - lo) / 8] = char(uint8_t(bits[(p - lo) / 8]) | (1u << ((p - lo) % 8)));
        return row + bits;
    }
    const uint32_t perMapPage = (kPageSize - 4) * 8;
    uint32_t mapPages = hi / perMapPage + 1;
    std::vector<uint32_t> mp(mapPages, 0);
    for (uint32_t p : pages) {
        uint32_t k = p / perMapPage;
        if (!mp[k]) {
            mp[k] = file.allocate();
            uint8_t* q = file.page(mp[k]);
            q[0] = 0x05;
            q[1] = 0x01;
        }
        uint8_t* q = file.page(mp[k]);
        uint32_t bit = p % perMapPage;
        q[4 + bit / 8] |= uint8_t(1u << (bit % 8));
    }
    row.push_back(1);
    for (uint32_t m : mp) append32(row, m);
    return row;
}

// ---- header ----------------------------------------------------------------

void rc4(const uint8_t* key, size_t keyLen, uint8_t* data, size_t len) {
    uint8_t s[256];
    for (int i = 0; i < 256; ++i) s[i] = uint8_t(i);
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + s[i] + key[i % keyLen]) & 0xFF;
        std::swap(s[i], s[j]);
    }
    for (size_t k = 0, i = 0, j = 0; k < len; ++k) {
        i = (i + 1) & 0xFF;
        j = (j + s[i]) & 0xFF;
        std::swap(s[i], s[j]);
        data[k] ^= s[(s[i] + s[j]) & 0xFF];
    }
}

// Creation date written into every file: 2026-11-01 09:00. A fixed date keeps
// generated files identical from build to build.
constexpr double kCreationDate = 46327.375;

void writeHeader(uint8_t* p, const std::string& password) {
    static const char engine[] = "Standard Jet DB";
    p[0] = 0x00;
    p[1] = 0x01;
    std::memcpy(p + 4, engine, sizeof engine);  // with its NUL
    p[0x14] = 0x01;                             // Jet 4
    static const uint8_t fixedPart[] = {0x00, 0x01, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,
                                        0x03, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00};
    std::memcpy(p + 0x18, fixedPart, sizeof fixedPart);
    put16(p + 0x3C, 936);         // code page the file was made with
    put32(p + 0x3E, 0);           // page encoding key: pages stored plain
    put32(p + 0x6A, 0x11A6);
    put32(p + 0x6E, 0x0409);      // General sort order
    uint64_t bits;
    std::memcpy(&bits, &kCreationDate, 8);
    for (int i = 0; i < 8; ++i) p[0x72 + i] = uint8_t(bits >> (8 * i));
    std::u16string pw = toUtf16(password);
    if (pw.size() > 20) fail("database password longer than 20 characters");
    uint8_t pwBytes[40] = {};
    for (size_t i = 0; i < pw.size(); ++i) put16(pwBytes + 2 * i, pw[i]);
    uint32_t mask = uint32_t(int32_t(std::floor(kCreationDate)));
    for (int i = 0; i < 40; ++i) p[0x42 + i] = pwBytes[i] ^ uint8_t(mask >> (8 * (i % 4)));
    put32(p + 0x98, 0x0654);
    std::memcpy(p + 0x9C, "4.0", 4);
    static const uint8_t key[] = {0xC7, 0xDA, 0x39, 0x6B};
    rc4(key, 4, p + 0x18, 128);
}

void checkName(const std::string& name, const char* what) {
    if (name.empty()) fail(std::string(what) + " name is empty");
    std::u16string u = toUtf16(name);
    if (u.size() > 64) fail(std::string(what) + " name \"" + name + "\" is longer than 64 characters");
    for (char16_t c : u)
        if (c < 0x20 || c == '.' || c == '!' || c == '`' || c == '[' || c == ']')
            fail(std::string(what) + " name \"" + name + "\" holds a character Jet does not allow");
}

}  // namespace

std::optional<std::string> checkValue(const Column& column, const Value& value) {
    try {
        ColumnInfo c;
        c.name = column.name;
        c.type = rawType(column.type);
        c.length = column.length;
        encodeCell(c, value);
    } catch (const std::runtime_error& e) {
        return std::string(e.what());
    }
    return std::nullopt;
}

void writeDatabase(const Database& db, const std::string& path) {
    // Check the description as a whole before laying anything out.
    {
        if (toUtf16(db.password).size() > 20) fail("database password longer than 20 characters");
        std::map<std::u16string, int> seen;
        for (const Table& t : db.tables) {
            checkName(t.name, "table");
            std::u16string key;
            for (char16_t c : toUtf16(t.name)) key.push_back(c < 0x80 ? char16_t(std::tolower(c)) : c);
            if (seen[key]++) fail("table " + t.name + " is described twice");
            if (key.rfind(u"msys", 0) == 0) fail("table name " + t.name + " is reserved for the system catalog");
            if (t.columns.empty()) fail("table " + t.name + " has no columns");
            if (t.columns.size() > 255) fail("table " + t.name + " has more than 255 columns");
            std::map<std::u16string, int> cols;
            for (const Column& c : t.columns) {
                checkName(c.name, "column");
                std::u16string ck;
                for (char16_t ch : toUtf16(c.name)) ck.push_back(ch < 0x80 ? char16_t(std::tolower(ch)) : ch);
                if (cols[ck]++) fail("table " + t.name + ": column " + c.name + " is described twice");
                if (c.type == ColumnType::Text && (c.length < 1 || c.length > 255))
                    fail("table " + t.name + ": Text column " + c.name + " needs a length from 1 to 255");
            }
        }
    }

    PageFile file;
    file.allocate();                 // 0: header
    uint32_t mapPage = file.allocate();  // 1: usage-map rows
    uint32_t catalogTdef = file.allocate();  // 2: MSysObjects

    using Def = std::pair<std::string, std::pair<RawType, int>>;
    std::vector<Def> catalogCols = {
        {"Id", {kLong, 0}},         {"ParentId", {kLong, 0}},   {"Name", {kText, 255}},
        {"Type", {kInt, 0}},        {"DateCreate", {kDateTime, 0}}, {"DateUpdate", {kDateTime, 0}},
        {"Flags", {kLong, 0}},      {"Database", {kMemo, 0}},   {"Connect", {kMemo, 0}},
        {"ForeignName", {kText, 255}}, {"Lv", {kOle, 0}},       {"LvProp", {kOle, 0}},
        {"LvModule", {kOle, 0}},    {"LvExtra", {kOle, 0}},
    };

    std::vector<WrittenTable> tables;
    WrittenTable catalog;
    catalog.layout = makeLayout("MSysObjects", catalogCols, true);
    catalog.tdefPage = catalogTdef;

    LvalWriter lval(file);
    // Reserves the definition pages, then fills data pages row by row.
    auto writeRows = [&](WrittenTable& wt, const std::vector<std::vector<Value>>& rows, bool reserveTdef) {
        if (reserveTdef) {
            int pages = tdefPageCount(tdefBody(wt));
            for (int i = 0; i < pages; ++i) wt.tdefPages.push_back(file.allocate());
            wt.tdefPage = wt.tdefPages.front();
        }
        std::optional<RowPage> page;
        std::vector<Cell> cells(wt.layout.columns.size());
        for (size_t r = 0; r < rows.size(); ++r) {
            const auto& values = rows[r];
            try {
                if (values.size() > wt.layout.columns.size())
                    fail("row has " + std::to_string(values.size()) + " values, the table has " +
                         std::to_string(wt.layout.columns.size()) + " columns");
                for (size_t c = 0; c < cells.size(); ++c) {
                    try {
                        cells[c] = encodeCell(wt.layout.columns[c], c < values.size() ? values[c] : Value{});
                    } catch (const std::runtime_error& e) {
                        fail("column " + wt.layout.columns[c].name + ": " + e.what());
                    }
                }
                std::string row = buildRow(wt.layout, cells, lval);
                if (!page || !page->fits(row.size())) {
                    page.emplace(file, file.allocate(), wt.tdefPage);
                    wt.dataPages.push_back(page->number());
                }
                page->add(row);
            } catch (const std::runtime_error& e) {
                fail("table " + wt.layout.name + ", row " + std::to_string(r + 1) + ": " + e.what());
            }
        }
        wt.rowCount = uint32_t(rows.size());
    };

    for (const Table& t : db.tables) {
        std::vector<Def> cols;
        for (const Column& c : t.columns) cols.push_back({c.name, {rawType(c.type), c.length}});
        WrittenTable wt;
        wt.layout = makeLayout(t.name, cols, false);
        writeRows(wt, t.rows, true);
        tables.push_back(std::move(wt));
    }

    // The catalog: the container of tables, the catalog itself and every user table.
    const std::string created = "2026-11-01 09:00:00";
    std::vector<std::vector<Value>> catalogRows;
    auto catRow = [&](uint32_t id, uint32_t parent, const std::string& name, int type, uint32_t flags) {
        catalogRows.push_back({std::to_string(int32_t(id)), std::to_string(int32_t(parent)), name,
                               std::to_string(type), created, created, std::to_string(int32_t(flags))});
    };
    catRow(kTablesContainer, 0x0F000000, "Tables", 3, 0);
    catRow(0x0F000002, 0x0F000000, "Databases", 3, 0);
    catRow(0x0F000003, 0x0F000000, "Relationships", 3, 0);
    catRow(catalogTdef, kTablesContainer, "MSysObjects", 1, 0x80000000u);
    for (const WrittenTable& wt : tables) catRow(wt.tdefPage, kTablesContainer, wt.layout.name, 1, 0);
    catalog.tdefPages = {catalogTdef};
    if (tdefPageCount(tdefBody(catalog)) != 1) fail("internal: catalog definition too long");
    writeRows(catalog, catalogRows, false);

    // Usage maps: each table's map of its data pages, and an empty free-space map.
    std::vector<WrittenTable*> all{&catalog};
    for (auto& wt : tables) all.push_back(&wt);
    std::optional<RowPage> maps;
    maps.emplace(file, mapPage, 0);
    auto addMapRow = [&](const std::string& row) {
        if (!maps->fits(row.size())) maps.emplace(file, file.allocate(), 0);
        int r = maps->add(row);
        return pageRow(maps->number(), r);
    };
    // The global map of the pages in use is the first row of page 1; its size is
    // fixed here and its bits are filled in once every page is allocated.
    const int globalRowBytes = 5 + kBitmapBytes;
    addMapRow(std::string(size_t(globalRowBytes), '\0'));
    for (WrittenTable* wt : all) {
        wt->usedMap = addMapRow(usageMap(file, wt->dataPages, false));
        wt->freeMap = addMapRow(usageMap(file, wt->dataPages, true));
    }
    {
        uint32_t total = uint32_t(file.count());
        std::string global;
        if (total <= uint32_t(kBitmapBytes * 8)) {
            global.push_back(0);
            append32(global, 0);
            std::string bits(kBitmapBytes, '\0');
            for (uint32_t p = 0; p < total; ++p) bits[p / 8] = char(uint8_t(bits[p / 8]) | (1u << (p % 8)));
            global += bits;
        } else {
            // Bitmap pages of their own; they count as pages in use, too.
            const uint32_t perMapPage = (kPageSize - 4) * 8;
            std::vector<uint32_t> mapPages;
            while (uint32_t(file.count()) > perMapPage * uint32_t(mapPages.size())) {
                uint32_t m = file.allocate();
                file.page(m)[0] = 0x05;
                file.page(m)[1] = 0x01;
                mapPages.push_back(m);
            }
            if (mapPages.size() > size_t((globalRowBytes - 1) / 4)) fail("database too large");
            total = uint32_t(file.count());
            for (uint32_t p = 0; p < total; ++p) {
                uint8_t* q = file.page(mapPages[p / perMapPage]);
                uint32_t bit = p % perMapPage;
                q[4 + bit / 8] |= uint8_t(1u << (bit % 8));
            }
            global.push_back(1);
            for (uint32_t m : mapPages) append32(global, m);
        }
        global.resize(size_t(globalRowBytes), '\0');
        std::memcpy(file.page(mapPage) + kPageSize - globalRowBytes, global.data(), global.size());
    }
    for (WrittenTable* wt : all) writeTdef(file, *wt);
    writeHeader(file.page(0), db.password);

    std::string error;
    if (!common::writeFileAtomic(path, file.bytes(), &error)) fail("cannot write " + path + ": " + error);
}

}  // namespace jetwrite
