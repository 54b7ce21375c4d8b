#include "platform/database/jet_reader.h"

#include <iconv.h>
#include <mdbtools.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace ado::jet {

Error missingFile(const std::string& path) {
  return Error(kFail, "Could not find file '" + path + "'.");
}
Error notJet(const std::string& path) {
  return Error(kFail, "Unrecognized database format '" + path + "'.");
}
Error damaged(const std::string& path) {
  return Error(kFail, "Cannot open database '" + path +
                          "'. It may not be a database that your application recognizes, or "
                          "the file may be corrupt.");
}
Error locked(const std::string& path) {
  return Error(kFail, "The Microsoft Jet database engine cannot open the file '" + path +
                          "'. It is already opened exclusively by another user, or you need "
                          "permission to view its data.");
}
Error badPassword() { return Error(kBadPassword, "Not a valid password."); }

namespace {

uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t le32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
int64_t le64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return int64_t(v);
}
double leDouble(const uint8_t* p) {
  double d;
  std::memcpy(&d, p, 8);
  return d;
}
float leFloat(const uint8_t* p) {
  float f;
  std::memcpy(&f, p, 4);
  return f;
}

void rc4(const uint8_t* key, std::size_t keyLen, uint8_t* data, std::size_t n) {
  uint8_t s[256];
  for (int i = 0; i < 256; ++i) s[i] = uint8_t(i);
  uint8_t j = 0;
  for (int i = 0; i < 256; ++i) {
    j = uint8_t(j + s[i] + key[i % keyLen]);
    std::swap(s[i], s[j]);
  }
  uint8_t a = 0;
  j = 0;
  for (std::size_t k = 0; k < n; ++k) {
    a = uint8_t(a + 1);
    j = uint8_t(j + s[a]);
    std::swap(s[a], s[j]);
    data[k] ^= s[uint8_t(s[a] + s[j])];
  }
}

// Writes `cp` as UTF-8 at `o`; gives the end.
char* putUtf8(char* o, uint32_t cp) {
  if (cp < 0x80) {
    *o++ = char(cp);
  } else if (cp < 0x800) {
    *o++ = char(0xC0 | (cp >> 6));
    *o++ = char(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *o++ = char(0xE0 | (cp >> 12));
    *o++ = char(0x80 | ((cp >> 6) & 0x3F));
    *o++ = char(0x80 | (cp & 0x3F));
  } else {
    *o++ = char(0xF0 | (cp >> 18));
    *o++ = char(0x80 | ((cp >> 12) & 0x3F));
    *o++ = char(0x80 | ((cp >> 6) & 0x3F));
    *o++ = char(0x80 | (cp & 0x3F));
  }
  return o;
}

// UTF-16 code units (unit(i) for i below count) to UTF-8 in `out`; unpaired
// surrogates become U+FFFD. Written in place: no unit takes more than three
// bytes (a pair, four for two).
template <class Unit>
void utf16ToUtf8(std::size_t count, Unit unit, std::string& out) {
  out.resize(count * 3);
  char* const begin = out.data();
  char* o = begin;
  for (std::size_t i = 0; i < count; ++i) {
    uint32_t u = unit(i);
    if (u < 0x80) {
      *o++ = char(u);
      continue;
    }
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < count && unit(i + 1) >= 0xDC00 && unit(i + 1) <= 0xDFFF) {
      u = 0x10000 + ((u - 0xD800) << 10) + (uint32_t(unit(i + 1)) - 0xDC00);
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      u = 0xFFFD;
    }
    o = putUtf8(o, u);
  }
  out.resize(std::size_t(o - begin));
}

void utf16ToUtf8(const std::vector<uint16_t>& units, std::string& out) {
  utf16ToUtf8(units.size(), [&](std::size_t i) { return units[i]; }, out);
}

// Jet 4 text: UTF-16LE, or "Unicode compressed" (FF FE, then runs of one-byte
// characters and of two-byte characters, each switch marked by a 00 byte).
void jet4Text(const uint8_t* p, std::size_t n, std::string& out) {
  if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
    thread_local std::vector<uint16_t> units;  // kept from one text to the next
    units.clear();
    bool compressed = true;
    std::size_t i = 2;
    while (i < n) {
      if (p[i] == 0) {
        compressed = !compressed;
        ++i;
      } else if (compressed) {
        units.push_back(p[i]);
        ++i;
      } else if (i + 1 < n) {
        units.push_back(le16(p + i));
        i += 2;
      } else {
        break;
      }
    }
    utf16ToUtf8(units, out);
    if (units.capacity() > (std::size_t(1) << 16)) std::vector<uint16_t>().swap(units);
  } else {
    utf16ToUtf8(n / 2, [p](std::size_t i) { return le16(p + 2 * i); }, out);
  }
}

}  // namespace

std::string codePageToUtf8(const char* data, std::size_t size, int codePage) {
  bool ascii = true;
  for (std::size_t i = 0; i < size && ascii; ++i) ascii = (uint8_t(data[i]) < 0x80);
  if (ascii) return std::string(data, size);
  std::string from = "CP" + std::to_string(codePage);
  iconv_t cd = iconv_open("UTF-8", from.c_str());
  if (cd == iconv_t(-1)) cd = iconv_open("UTF-8", "CP1252");
  if (cd == iconv_t(-1)) return std::string(data, size);
  std::string out(size * 4 + 4, '\0');
  char* in = const_cast<char*>(data);
  std::size_t inLeft = size;
  char* o = out.data();
  std::size_t outLeft = out.size();
  while (inLeft > 0) {
    if (iconv(cd, &in, &inLeft, &o, &outLeft) != std::size_t(-1)) break;
    if (errno == E2BIG) break;
    // A byte the code page has no character for: U+FFFD, go on.
    ++in;
    --inLeft;
    if (outLeft >= 3) {
      std::memcpy(o, "\xEF\xBF\xBD", 3);
      o += 3;
      outLeft -= 3;
    }
  }
  iconv_close(cd);
  out.resize(out.size() - outLeft);
  return out;
}

Header inspectHeader(const uint8_t* page0, std::size_t available, std::size_t fileSize,
                     const std::string& path) {
  static const uint8_t kMagic[4] = {0x00, 0x01, 0x00, 0x00};
  if (available < 0x18 + 128 || std::memcmp(page0, kMagic, 4) != 0) throw notJet(path);
  if (std::memcmp(page0 + 4, "Standard Jet DB", 16) != 0) throw notJet(path);
  Header h;
  uint8_t format = page0[0x14];
  if (format == 0) {
    h.version = 3;
    h.pageSize = 2048;
  } else if (format == 1) {
    h.version = 4;
    h.pageSize = 4096;
  } else {
    throw notJet(path);
  }
  // A Jet file is a whole number of pages, and holds at least the database
  // page, the first usage map and the catalog's table definition (page 2).
  if (fileSize % std::size_t(h.pageSize) != 0 || fileSize < std::size_t(h.pageSize) * 3)
    throw damaged(path);
  h.pageCount = fileSize / std::size_t(h.pageSize);

  uint8_t hdr[0x18 + 128];
  std::memcpy(hdr, page0, sizeof hdr);
  static const uint8_t kKey[4] = {0xC7, 0xDA, 0x39, 0x6B};
  rc4(kKey, 4, hdr + 0x18, h.version == 3 ? 126 : 128);
  h.codePage = le16(hdr + 0x3C);
  h.pageKey = le32(hdr + 0x3E);
  if (h.version == 3) {
    const char* pw = reinterpret_cast<const char*>(hdr + 0x42);
    std::size_t n = 0;
    while (n < 20 && pw[n] != 0) ++n;
    if (n > 0) h.password = codePageToUtf8(pw, n, h.codePage);
  } else {
    double created = leDouble(hdr + 0x72);
    int32_t stamp = 0;
    if (created == created && created > -2147483648.0 && created < 2147483647.0)
      stamp = int32_t(created);
    uint8_t mask[4];
    for (int i = 0; i < 4; ++i) mask[i] = uint8_t(uint32_t(stamp) >> (8 * i));
    std::vector<uint16_t> units;
    for (int i = 0; i < 40; i += 2) {
      uint16_t u = uint16_t((hdr[0x42 + i] ^ mask[i % 4]) | ((hdr[0x43 + i] ^ mask[(i + 1) % 4]) << 8));
      if (u == 0) break;
      units.push_back(u);
    }
    if (!units.empty()) {
      std::string s;
      utf16ToUtf8(units, s);
      h.password = s;
    }
  }
  return h;
}

void checkPassword(const Header& header, const std::string& given) {
  // A file without a database password opens whatever password is named.
  if (!header.password) return;
  if (given != *header.password) throw badPassword();
}

namespace {

constexpr std::size_t kKeptTextRoom = 4096;  // a cell's text room kept from row to row

struct MdbCloser {
  void operator()(MdbHandle* h) const { mdb_close(h); }
};
struct TableFree {
  void operator()(MdbTableDef* t) const { mdb_free_tabledef(t); }
};

class Reader {
 public:
  Reader(MdbHandle* mdb, const Header& h, const std::string& path, Sink& sink)
      : mdb_(mdb), h_(h), path_(path), sink_(sink) {}

  void run() {
    // The catalog (MSysObjects) is read here rather than by mdb_read_catalog():
    // that one also decodes every object's property blob, and a damaged blob can
    // make it allocate without end. Only names, types, flags and pages are needed.
    MdbCatalogEntry catalog{};
    catalog.mdb = mdb_;
    std::snprintf(catalog.object_name, sizeof catalog.object_name, "MSysObjects");
    catalog.object_type = MDB_TABLE;
    catalog.table_pg = 2;
    std::unique_ptr<MdbTableDef, TableFree> table = openTable(&catalog);
    std::vector<MdbColumn*> columns = readColumns(table.get());
    int id = -1, name = -1, type = -1, flags = -1;
    for (std::size_t i = 0; i < columns.size(); ++i) {
      std::string n = columns[i]->name;
      if (n == "Id") id = int(i);
      if (n == "Name") name = int(i);
      if (n == "Type") type = int(i);
      if (n == "Flags") flags = int(i);
    }
    if (id < 0 || name < 0 || type < 0 || flags < 0) throw damaged(path_);
    std::vector<MdbCatalogEntry> entries;
    // Every catalog names itself (its definition is on page 2); one whose rows
    // cannot be found, or do not hold that one, is damaged, not empty.
    bool namesItself = false;
    forEachRow(table.get(), columns, [&](const std::vector<Cell>& row) {
      const Cell& t = row[std::size_t(type)];
      const Cell& f = row[std::size_t(flags)];
      const Cell& i = row[std::size_t(id)];
      const Cell& n = row[std::size_t(name)];
      if (t.kind != Cell::Int || (t.i & 0x7F) != MDB_TABLE || i.kind != Cell::Int || n.kind != Cell::Text)
        return;
      if (n.s == "MSysObjects" && (i.i & 0x00FFFFFF) == 2) namesItself = true;
      int64_t fl = f.kind == Cell::Int ? f.i : 0;
      if (fl & 0x80000002) return;  // system and hidden tables
      if (n.s.rfind("MSys", 0) == 0 || n.s.empty() || n.s.size() > MDB_MAX_OBJ_NAME) return;
      MdbCatalogEntry e{};
      e.mdb = mdb_;
      std::snprintf(e.object_name, sizeof e.object_name, "%s", n.s.c_str());
      e.object_type = MDB_TABLE;
      e.table_pg = (unsigned long)(i.i & 0x00FFFFFF);
      e.flags = int(fl);
      entries.push_back(e);
    });
    table.reset();
    if (!namesItself) throw damaged(path_);
    uint64_t rows = 0;
    for (MdbCatalogEntry& e : entries) rows += openTable(&e)->num_rows;
    sink_.expectRows(rows);
    for (MdbCatalogEntry& e : entries) readTable(&e);
  }

 private:
  void checkTablePage(unsigned long pg) {
    if (pg < 1 || pg >= h_.pageCount) throw damaged(path_);
    if (mdb_read_pg(mdb_, pg) != h_.pageSize || mdb_->pg_buf[0] != MDB_PAGE_TABLE)
      throw damaged(path_);
  }

  static JetType typeOf(int t) {
    switch (t) {
      case MDB_BOOL: return JetType::Boolean;
      case MDB_BYTE: return JetType::Byte;
      case MDB_INT: return JetType::Integer;
      case MDB_LONGINT: return JetType::Long;
      case MDB_MONEY: return JetType::Currency;
      case MDB_FLOAT: return JetType::Single;
      case MDB_DOUBLE: return JetType::Double;
      case MDB_DATETIME: return JetType::DateTime;
      case MDB_BINARY: return JetType::Binary;
      case MDB_TEXT: return JetType::Text;
      case MDB_OLE: return JetType::Ole;
      case MDB_MEMO: return JetType::Memo;
      case MDB_REPID: return JetType::Guid;
      case MDB_NUMERIC: return JetType::Numeric;
      default: return JetType::Unknown;
    }
  }

  void readTable(MdbCatalogEntry* entry) {
    std::unique_ptr<MdbTableDef, TableFree> table = openTable(entry);
    std::vector<MdbColumn*> columns = readColumns(table.get());
    TableDef def;
    def.info.name = entry->object_name;
    for (MdbColumn* c : columns) def.info.columns.push_back({c->name, typeOf(c->col_type), c->col_size});
    // libmdb keeps the indexes it read in the table (what the call returns is
    // not them).
    mdb_read_indices(table.get());
    GPtrArray* idx = table->indices;
    if (idx) {
      for (guint i = 0; i < idx->len; ++i) {
        auto* ix = static_cast<MdbIndex*>(g_ptr_array_index(idx, i));
        if (!ix || ix->index_type == 2) continue;  // 2: a relationship's reference
        IndexDef d;
        for (unsigned k = 0; k < ix->num_keys && k < MDB_MAX_IDX_COLS; ++k) {
          int n = ix->key_col_num[k] - 1;
          if (n >= 0 && n < int(columns.size())) d.columns.push_back(n);
        }
        if (!d.columns.empty()) def.indexes.push_back(std::move(d));
      }
    }
    sink_.beginTable(def);
    forEachRow(table.get(), columns, [&](const std::vector<Cell>& row) { sink_.row(row); });
    sink_.endTable();
  }

  std::unique_ptr<MdbTableDef, TableFree> openTable(MdbCatalogEntry* entry) {
    checkTablePage(entry->table_pg);
    std::unique_ptr<MdbTableDef, TableFree> table(mdb_read_table(entry));
    // Without its usage map libmdb cannot find the table's data pages.
    if (!table || !table->usage_map || table->map_sz < 1) throw damaged(path_);
    return table;
  }

  std::vector<MdbColumn*> readColumns(MdbTableDef* table) {
    GPtrArray* cols = mdb_read_columns(table);
    if (!cols || cols->len != table->num_cols || table->num_cols == 0 || table->num_cols > MDB_MAX_COLS)
      throw damaged(path_);
    std::vector<MdbColumn*> columns;
    for (guint i = 0; i < cols->len; ++i) {
      auto* c = static_cast<MdbColumn*>(g_ptr_array_index(cols, i));
      if (!c) throw damaged(path_);
      columns.push_back(c);
    }
    return columns;
  }

  // Every live row of the table, in the order of the row slots on its data
  // pages. A slot flagged 0x8000 is a deleted row (Access sets 0xC000) or the
  // moved copy of a row that outgrew its page; a slot flagged 0x4000 alone holds
  // a pointer (row number, then a 3-byte page number) to where that row now lives.
  template <class F>
  void forEachRow(MdbTableDef* table, const std::vector<MdbColumn*>& columns, F&& onRow) {
    const unsigned ncols = table->num_cols;
    std::vector<MdbField> fields(ncols + 1);
    std::vector<Cell> cells(ncols);
    mdb_rewind_table(table);
    table->cur_pg_num = 1;
    std::size_t pagesSeen = 0;
    while (mdb_read_next_dpg(table)) {
      if (++pagesSeen > h_.pageCount) throw damaged(path_);
      unsigned rows = unsigned(mdb_get_int16(mdb_->pg_buf, mdb_->fmt->row_count_offset));
      if (rows > 1000) throw damaged(path_);
      for (unsigned r = 0; r < rows; ++r) {
        int start = 0;
        size_t len = 0;
        if (mdb_find_row(mdb_, int(r), &start, &len) == -1 || len == 0) continue;
        if (start & 0x8000) continue;
        if (start & 0x4000) {
          if (followOverflow(table, columns, start, len, fields, cells)) onRow(cells);
          // Back to the page being walked.
          if (mdb_read_pg(mdb_, table->cur_phys_pg) != h_.pageSize) throw damaged(path_);
          continue;
        }
        crack(table, columns, start & 0x1FFF, len, fields, cells);
        onRow(cells);
      }
    }
  }

  // The row an overflow pointer leads to. Followed only when it leads to a data
  // page of the same table and to a slot marked as a moved copy; anything else is
  // taken as a deleted row (some writers mark deleted rows with 0x4000 alone).
  bool followOverflow(MdbTableDef* table, const std::vector<MdbColumn*>& columns, int start, size_t len,
                      std::vector<MdbField>& fields, std::vector<Cell>& cells) {
    const int off = start & 0x1FFF;
    if (len < 4 || off + 4 > h_.pageSize) return false;
    const uint8_t* p = mdb_->pg_buf + off;
    uint32_t pg = uint32_t(p[1]) | (uint32_t(p[2]) << 8) | (uint32_t(p[3]) << 16);
    unsigned row = p[0];
    if (pg < 1 || pg >= h_.pageCount) return false;
    if (mdb_read_pg(mdb_, pg) != h_.pageSize || mdb_->pg_buf[0] != MDB_PAGE_DATA ||
        uint32_t(mdb_get_int32(mdb_->pg_buf, 4)) != uint32_t(table->entry->table_pg))
      return false;
    unsigned rows = unsigned(mdb_get_int16(mdb_->pg_buf, mdb_->fmt->row_count_offset));
    int s2 = 0;
    size_t l2 = 0;
    if (row >= rows || mdb_find_row(mdb_, int(row), &s2, &l2) == -1 || l2 == 0) return false;
    if ((s2 & 0xC000) != 0x8000) return false;
    crack(table, columns, s2 & 0x1FFF, l2, fields, cells);
    return true;
  }

  void crack(MdbTableDef* table, const std::vector<MdbColumn*>& columns, int start, size_t len,
             std::vector<MdbField>& fields, std::vector<Cell>& cells) {
    const unsigned ncols = table->num_cols;
    if (start + len > size_t(h_.pageSize)) throw damaged(path_);
    int n = mdb_crack_row(table, start, len, fields.data());
    if (n < 0) throw damaged(path_);
    // Emptied, each text keeping its room for the next row's (unless far
    // beyond what texts need).
    for (unsigned i = 0; i < ncols; ++i) {
      Cell& c = cells[i];
      c.kind = Cell::Null;
      c.i = 0;
      c.d = 0;
      if (c.s.capacity() > kKeptTextRoom)
        std::string().swap(c.s);
      else
        c.s.clear();
    }
    for (unsigned i = 0; i < ncols; ++i) {
      const MdbField& f = fields[i];
      if (f.colnum < 0 || unsigned(f.colnum) >= ncols) throw damaged(path_);
      decode(columns[unsigned(f.colnum)], f, cells[unsigned(f.colnum)]);
    }
  }

  void decode(MdbColumn* col, const MdbField& f, Cell& out) {
    const int pgSize = h_.pageSize;
    if (col->col_type == MDB_BOOL) {
      out.kind = Cell::Int;
      out.i = f.is_null ? 0 : -1;
      return;
    }
    if (f.is_null) return;
    if (f.start < 0 || f.siz < 0 || f.start + f.siz > pgSize) throw damaged(path_);
    const uint8_t* p = mdb_->pg_buf + f.start;
    const int n = f.siz;
    auto need = [&](int bytes) {
      if (n < bytes) throw damaged(path_);
    };
    switch (col->col_type) {
      case MDB_BYTE: need(1); out.kind = Cell::Int; out.i = p[0]; break;
      case MDB_INT: need(2); out.kind = Cell::Int; out.i = int16_t(le16(p)); break;
      case MDB_LONGINT: need(4); out.kind = Cell::Int; out.i = int32_t(le32(p)); break;
      case MDB_MONEY: need(8); out.kind = Cell::Int; out.i = le64(p); break;
      case MDB_FLOAT: need(4); out.kind = Cell::Real; out.d = leFloat(p); break;
      case MDB_DOUBLE:
      case MDB_DATETIME: need(8); out.kind = Cell::Real; out.d = leDouble(p); break;
      case MDB_NUMERIC: {
        need(17);
        char* s = mdb_numeric_to_string(mdb_, f.start, col->col_scale, col->col_prec);
        out.kind = Cell::Real;
        out.d = s ? std::strtod(s, nullptr) : 0;
        g_free(s);
        break;
      }
      case MDB_REPID: {
        need(16);
        char buf[40];
        std::snprintf(buf, sizeof buf,
                      "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", le32(p), le16(p + 4),
                      le16(p + 6), p[8], p[9], p[10], p[11], p[12], p[13], p[14], p[15]);
        out.kind = Cell::Text;
        out.s = buf;
        break;
      }
      case MDB_TEXT:
        out.kind = Cell::Text;
        text(p, std::size_t(n), out.s);
        break;
      case MDB_MEMO:
        out.kind = Cell::Text;
        memo(p, std::size_t(n), out.s);
        break;
      default:
        break;  // binary, OLE objects and the like are not read
    }
  }

  void text(const uint8_t* p, std::size_t n, std::string& out) {
    if (h_.version == 4)
      jet4Text(p, n, out);
    else
      out = codePageToUtf8(reinterpret_cast<const char*>(p), n, h_.codePage);
  }

  // A memo value: 12 bytes in the row (length and flags, then where the data
  // lies), the data inline, in one row of a long-value page, or in a chain of them.
  void memo(const uint8_t* p, std::size_t n, std::string& out) {
    if (n < 12) throw damaged(path_);
    uint32_t word = le32(p);
    std::size_t length = word & 0x3FFFFFFF;
    std::vector<uint8_t> data;
    if (word & 0x80000000u) {
      if (length > n - 12) throw damaged(path_);
      data.assign(p + 12, p + 12 + length);
    } else {
      uint32_t pgRow = le32(p + 4);
      bool single = (word & 0x40000000u) != 0;
      std::size_t hops = 0;
      while (data.size() < length) {
        if ((pgRow >> 8) == 0 || (pgRow >> 8) >= h_.pageCount || ++hops > h_.pageCount)
          throw damaged(path_);
        void* buf = nullptr;
        int off = 0;
        size_t len = 0;
        if (mdb_find_pg_row(mdb_, int(pgRow), &buf, &off, &len) != 0)
          throw damaged(path_);
        if (off < 0 || size_t(off) + len > size_t(h_.pageSize)) throw damaged(path_);
        const uint8_t* b = static_cast<const uint8_t*>(buf) + off;
        if (single) {
          std::size_t take = std::min(len, length);
          data.insert(data.end(), b, b + take);
          break;
        }
        if (len < 4) throw damaged(path_);
        pgRow = le32(b);
        std::size_t take = std::min(len - 4, length - data.size());
        data.insert(data.end(), b + 4, b + 4 + take);
        if (pgRow == 0) break;
      }
    }
    text(data.data(), data.size(), out);
  }

  MdbHandle* mdb_;
  const Header& h_;
  const std::string& path_;
  Sink& sink_;
};

// libmdb takes the code page of Jet 3 text from the environment.
class Jet3Charset {
 public:
  explicit Jet3Charset(const Header& h) {
    if (h.version != 3) return;
    const char* old = std::getenv("MDB_JET3_CHARSET");
    if (old) old_ = old;
    had_ = old != nullptr;
    std::string cp = "CP" + std::to_string(h.codePage);
    iconv_t probe = iconv_open("UTF-8", cp.c_str());
    if (probe == iconv_t(-1)) {
      cp = "CP1252";
    } else {
      iconv_close(probe);
    }
    setenv("MDB_JET3_CHARSET", cp.c_str(), 1);
    set_ = true;
  }
  ~Jet3Charset() {
    if (!set_) return;
    if (had_)
      setenv("MDB_JET3_CHARSET", old_.c_str(), 1);
    else
      unsetenv("MDB_JET3_CHARSET");
  }

 private:
  bool set_ = false, had_ = false;
  std::string old_;
};

}  // namespace

void readTables(const Header& header, const std::string& file, const void* buffer,
                std::size_t bufferSize, const std::string& pathForErrors, Sink& sink) {
  Jet3Charset charset(header);
  MdbHandle* raw = file.empty()
                       ? mdb_open_buffer(const_cast<void*>(buffer), bufferSize, MDB_NOFLAGS)
                       : mdb_open(file.c_str(), MDB_NOFLAGS);
  if (!raw) throw damaged(pathForErrors);
  std::unique_ptr<MdbHandle, MdbCloser> mdb(raw);
  if (mdb->fmt->pg_size != header.pageSize) throw damaged(pathForErrors);
  Reader(mdb.get(), header, pathForErrors, sink).run();
}

}  // namespace ado::jet
