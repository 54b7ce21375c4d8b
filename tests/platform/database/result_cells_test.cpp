// A result's cells are kept compactly (16 bytes a cell, texts in blocks of
// their own) and made into Variants when asked for. What comes out must be
// what went in, whatever the mix of types and lengths, and a record set and
// the rows as they come must give the same values of a library.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "fixtures.h"
#include "platform/database/adodb.h"
#include "platform/database/jet_database.h"

namespace {

using T = ado::Variant::Type;
using fixtures::ColumnType;

// A text of `n` bytes that tells where it came from at every place.
std::string textOf(std::size_t n, std::size_t seed) {
  std::string s(n, ' ');
  for (std::size_t k = 0; k < n; ++k) s[k] = char('a' + (k * 7 + seed) % 26);
  return s;
}

TEST(ResultCells, KeepEveryValueThroughBlocksOfCellsAndOfTexts) {
  ado::Cells cells;
  std::vector<ado::Variant> expected;
  // Texts of every size around the text blocks' (64 KiB, a quarter of it
  // and more in a block of its own), short ones after each long one, an
  // empty text; more cells than the small blocks hold, and more text than
  // the small text blocks, so that both go on in large blocks.
  const std::vector<std::size_t> lengths = {0, 1, 15, 16, 40, 16383, 16384, 16385, 3, 65536, 5, 70000, 2, 40000};
  for (std::size_t r = 0; r < 90000; ++r) {
    const std::size_t n = r < 200 ? lengths[r % lengths.size()] : (r * 13) % 90;
    cells.pushText(textOf(n, r));
    expected.push_back(ado::Variant::text(textOf(n, r)));
    switch (r % 9) {
      case 0: cells.pushNull(); expected.push_back(ado::Variant::null()); break;
      case 1: cells.pushWhole(T::Boolean, -1); expected.push_back(ado::Variant::boolean(true)); break;
      case 2: cells.pushWhole(T::Byte, 255); expected.push_back(ado::Variant::byte(255)); break;
      case 3: cells.pushWhole(T::Integer, -32768); expected.push_back(ado::Variant::integer(-32768)); break;
      case 4:
        cells.pushWhole(T::Long, -2147483647 - 1);
        expected.push_back(ado::Variant::longInt(-2147483647 - 1));
        break;
      case 5:
        cells.pushWhole(T::Currency, INT64_MAX - int64_t(r));
        expected.push_back(ado::Variant::currency(INT64_MAX - int64_t(r)));
        break;
      case 6: cells.pushReal(T::Single, double(0.1f)); expected.push_back(ado::Variant::single(0.1f)); break;
      case 7: cells.pushReal(T::Double, 0.1 * double(r)); expected.push_back(ado::Variant::dbl(0.1 * double(r))); break;
      default: cells.pushReal(T::Date, 46357.75); expected.push_back(ado::Variant::date(46357.75)); break;
    }
  }
  ASSERT_EQ(cells.size(), expected.size());
  std::size_t i = 0;
  for (const ado::Variant& v : cells) {
    const ado::Variant& want = expected[i];
    ASSERT_EQ(v.type(), want.type()) << i;
    ASSERT_EQ(v.toText(), want.toText()) << i;
    if (want.type() == T::Currency) {
      ASSERT_EQ(v.currencyUnits(), want.currencyUnits()) << i;
    } else if (want.isNumeric()) {
      ASSERT_EQ(v.toDouble(), want.toDouble()) << i;
    }
    ++i;
  }
  EXPECT_EQ(i, expected.size());
  EXPECT_THROW(cells.at(cells.size()), std::out_of_range);
  EXPECT_EQ(cells.back().toText(), expected.back().toText());

  // A text is taken out once; a number gives its text and stays.
  EXPECT_EQ(cells.takeText(10), textOf(lengths[5], 5));
  EXPECT_EQ(cells.type(10), T::Text);
  EXPECT_EQ(cells[10].toText(), "");
  EXPECT_EQ(cells[12].toText(), textOf(lengths[6], 6)) << "the text after it is untouched";
  EXPECT_EQ(cells.takeText(7), "-32768");
  EXPECT_EQ(cells[7].toText(), "-32768");
  const std::size_t late = 2 * 89990;  // a text in a large block
  EXPECT_EQ(cells.takeText(late), textOf((89990 * 13) % 90, 89990));
  EXPECT_EQ(cells[late].toText(), "");
  EXPECT_EQ(cells[late + 2].toText(), textOf((89991 * 13) % 90, 89991));
}

// A library whose texts fill several blocks: long memos and short names.
class ResultReading : public ::testing::Test {
 protected:
  void SetUp() override {
    jetwrite::Database lib;
    lib.password = "4917";
    std::vector<std::vector<jetwrite::Value>> rows;
    for (int r = 0; r < 600; ++r) {
      const std::string memo = r % 50 == 0 ? "长" + textOf(20000 + r, r) : textOf(std::size_t(r % 70), r);
      rows.push_back({std::to_string(r), "材料" + std::to_string(r), std::to_string(r * 37 % 1000) + ".0125",
                      r % 3 == 0 ? std::optional<std::string>() : std::optional<std::string>(std::to_string(r) + ".5"),
                      r % 2 ? "true" : "false", memo});
    }
    lib.tables.push_back({"Goods",
                          {{"ID", ColumnType::Long},
                           {"Name", ColumnType::Text, 50},
                           {"Price", ColumnType::Currency},
                           {"Weight", ColumnType::Double},
                           {"Listed", ColumnType::YesNo},
                           {"Remark", ColumnType::Memo}},
                          rows});
    db = ado::Database::open(fixtures::writeLibrary(dir, "cells.zdj", lib), "4917");
  }
  fixtures::TempDir dir;
  std::shared_ptr<ado::Database> db;
};

TEST_F(ResultReading, ARecordSetGivesWhatTheRowsAsTheyComeGive) {
  const std::string sql = "select ID, Name, Price, Weight, Listed, Remark, Price * 2 from Goods order by ID desc";
  std::vector<std::string> asTheyCome;
  db->forEachRow(sql, [&](std::vector<ado::Variant>& row) {
    for (const ado::Variant& v : row) asTheyCome.push_back(std::to_string(int(v.type())) + ":" + v.toText());
  });
  ASSERT_EQ(asTheyCome.size(), 600u * 7);

  ado::Connection conn;
  conn.Open(fixtures::connectionString(db->path(), "4917"));
  ado::Recordset rs;
  rs.Open(sql, conn, 1, 1, -1);
  ASSERT_EQ(rs.RecordCount(), 600);
  std::size_t i = 0;
  // A field asked for once per record and kept across MoveNext reads the
  // record that was current when it was last asked for.
  const ado::Field first = rs.Fields(0);
  while (!rs.IsEOF()) {
    for (int k = 0; k < rs.FieldsCount(); ++k, ++i) {
      const ado::Variant& v = rs.Fields(k).Value();
      ASSERT_EQ(std::to_string(int(v.type())) + ":" + v.toText(), asTheyCome[i]) << i;
    }
    EXPECT_EQ(first.Value().toText(), rs.Fields("ID").Value().toText());
    rs.MoveNext();
  }
  EXPECT_EQ(i, asTheyCome.size());
}

}  // namespace
