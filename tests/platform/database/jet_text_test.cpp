// Jet's text comparison for every letter with a case, the search's width
// blindness, exact Currency aggregates, and positions rounded as VB rounds.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fixtures.h"
#include "platform/database/adodb.h"
#include "platform/database/jet_database.h"

namespace {

using fixtures::ColumnType;

// The records of the demo's CSV sources (quotes as CSV has them; a quoted
// cell may hold line breaks).
std::vector<std::vector<std::string>> csvRecords(const std::string& text) {
  std::vector<std::vector<std::string>> out;
  std::vector<std::string> record(1);
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted && c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
      record.back() += text[++i];
    } else if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      record.emplace_back();
    } else if (c == '\n' && !quoted) {
      out.push_back(std::move(record));
      record.assign(1, "");
    } else if (c != '\r' || quoted) {
      record.back() += c;
    }
  }
  if (record.size() > 1 || !record[0].empty()) out.push_back(std::move(record));
  return out;
}

// The PriceTax column of the demo's December library, in its order.
std::vector<std::string> demoPrices() {
  std::ifstream in(std::filesystem::path(VELMORA_SOURCE_DIR) / "demo/data/products-2026-12.csv");
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto records = csvRecords(text);
  const std::vector<std::string>& header = records.at(0);
  const std::size_t column = std::size_t(std::find(header.begin(), header.end(), "PriceTax") - header.begin());
  std::vector<std::string> prices;
  for (std::size_t r = 1; r < records.size(); ++r) prices.push_back(records[r].at(column));
  return prices;
}

class JetComparison : public ::testing::Test {
 protected:
  void SetUp() override {
    jetwrite::Database lib = fixtures::library();
    jetwrite::Table goods{"Goods",
                          {{"ID", ColumnType::Long},
                           {"Name", ColumnType::Text, 50},
                           {"Price", ColumnType::Currency},
                           {"Weight", ColumnType::Double}},
                          {{"1", "Φ16 螺纹钢", "61728394506.1728", "0.1"},
                           {"2", "Ⅰ级钢筋", "61728394506.1728", "0.2"},
                           {"3", "ＡＢ型管", "0.0001", "0.3"},
                           {"4", "ｈｒｂ４００ 盘螺", "0.0002", std::nullopt},
                           {"5", "hrb400 圆钢", std::nullopt, std::nullopt},
                           {"6", "ΣΙΓΜΑ 板", "-0.0003", "1"}}};
    lib.tables.push_back(goods);
    jetwrite::Table demo{"Demo", {{"ID", ColumnType::Long}, {"PriceTax", ColumnType::Currency}}, {}};
    int id = 0;
    for (const std::string& p : demoPrices())
      demo.rows.push_back({std::to_string(++id), p.empty() ? std::optional<std::string>() : p});
    lib.tables.push_back(demo);
    db = ado::Database::open(fixtures::writeLibrary(dir, "lib.zdj", lib), "4917");
  }
  std::vector<std::string> ids(const std::string& where) {
    ado::ResultSet rs = db->execute("select ID from Goods where " + where + " order by ID");
    std::vector<std::string> out;
    for (std::size_t r = 0; r < rs.rows; ++r) out.push_back(rs.cells[r].toText());
    return out;
  }
  ado::Variant value(const std::string& sql) {
    ado::ResultSet rs = db->execute(sql);
    EXPECT_EQ(rs.rows, 1u) << sql;
    return rs.rows ? rs.cells.at(0) : ado::Variant::null();
  }
  fixtures::TempDir dir;
  std::shared_ptr<ado::Database> db;
};

using V = std::vector<std::string>;

TEST_F(JetComparison, LikeAndEqualIgnoreCaseOfEveryLetter) {
  EXPECT_EQ(ids("Name like 'φ16%'"), V{"1"});
  EXPECT_EQ(ids("Name like '%ⅰ级%'"), V{"2"});
  EXPECT_EQ(ids("Name like 'ａｂ%'"), V{"3"});
  EXPECT_EQ(ids("Name like 'σιγμα _'"), V{"6"});
  EXPECT_EQ(ids("Name = 'φ16 螺纹钢'"), V{"1"});
  EXPECT_EQ(ids("Name = 'ⅰ级钢筋'"), V{"2"});
  EXPECT_EQ(ids("Name in ('ab型管', 'ａｂ型管')"), V{"3"}) << "width is not case: = tells them apart";
  EXPECT_EQ(ids("Name like 'HRB400%'"), V{"5"});
  // The wildcards and the escape count characters, not bytes.
  EXPECT_EQ(ids("Name like '_级%'"), V{"2"});
  // A long pattern against a long text stays bounded (no backtracking blow-up).
  EXPECT_EQ(ids("Name like '%a%a%a%a%a%a%a%a%a%a%a%a%a%a%a%a%a%a%a%b'"), V{});
  // InStr's text comparison (the default) is the same.
  EXPECT_EQ(value("select InStr(Name, 'φ') from Goods where ID=1").toText(), "1");
  EXPECT_EQ(value("select InStr(1, Name, 'σ') from Goods where ID=6").toText(), "1");
  EXPECT_EQ(value("select InStr(1, Name, 'σ', 0) from Goods where ID=6").toText(), "0");
  EXPECT_EQ(value("select InStr(3, Name, '板') from Goods where ID=6").toText(), "7");
}

// like folds each character where it reads it; letters on both sides of the
// ideographs' block, four-byte letters, and letters that fold into ASCII count
// as much as ASCII does, in one text beside ASCII and Chinese.
TEST_F(JetComparison, LikeFoldsEveryKindOfLetterInOneText) {
  auto matches = [&](const std::string& text, const std::string& pattern) {
    return value("select count(*) from Goods where '" + text + "' like '" + pattern + "'").toText() == "6";
  };
  EXPECT_TRUE(matches("ЖЕЛЕЗО HRB400 螺纹钢", "%железо hrb400 螺纹钢%"));
  EXPECT_TRUE(matches("\u212A", "k")) << "KELVIN SIGN folds to k";
  EXPECT_TRUE(matches("Ⰰ级", "ⰰ_"));
  EXPECT_TRUE(matches("Ꙁ钢", "%ꙁ钢"));
  EXPECT_TRUE(matches("𐐀 φ", "𐐨 Φ"));
  EXPECT_FALSE(matches("螺纹钢", "螺纹"));
  EXPECT_FALSE(matches("ЖЕЛЕЗО", "%жесть%"));
}

// A search text between two wildcards, as the name search sends it, is found
// as its characters are: ASCII in any case, letters that fold into ASCII,
// ideographs, a literal wildcard behind the escape; width still counts.
TEST_F(JetComparison, LikeFindsASearchTextWhereItsCharactersAre) {
  auto matches = [&](const std::string& text, const std::string& pattern) {
    return value("select count(*) from Goods where '" + text + "' like '" + pattern + "'").toText() == "6";
  };
  EXPECT_TRUE(matches("Φ16 HRB400 螺纹钢", "%hrb400 螺纹%"));
  EXPECT_TRUE(matches("钢 HrB400", "%HRB400%"));
  EXPECT_TRUE(matches("xx\u212Ayy 钢", "%k%")) << "KELVIN SIGN folds to k";
  EXPECT_TRUE(matches("盘\u017F螺", "%s螺%")) << "LONG S folds to s";
  EXPECT_TRUE(matches("a\u212Ab", "%AKB%"));
  EXPECT_FALSE(matches("螺纹", "%纹钢%"));
  EXPECT_FALSE(matches("ＨＲＢ400", "%hrb400%")) << "full-width is not half-width";
  EXPECT_FALSE(matches("hrb40", "%hrb400%"));
  EXPECT_TRUE(value("select count(*) from Goods where 'xa%bx' like '%a!%b%' escape '!'").toText() == "6");
  EXPECT_TRUE(value("select count(*) from Goods where 'xaZbx' like '%a!%b%' escape '!'").toText() == "0");
  EXPECT_EQ(ids("Name like '%HRB400%'"), V{"5"});
  EXPECT_EQ(ids("Name like '%钢%'"), (V{"1", "2", "5"}));
}

// The search of the toolbar: StrConv(…, 8), half-width, on both sides.
TEST_F(JetComparison, SearchIgnoresWidth) {
  EXPECT_EQ(ids("StrConv(Name, 8) like '%hrb400%'"), (V{"4", "5"}));
  EXPECT_EQ(ids("StrConv(Name, 8) like '%ab型%'"), V{"3"});
  EXPECT_EQ(value("select StrConv('ａｂ Ｃ', 8) from Goods where ID=1").toText(), "ab C");
  EXPECT_EQ(value("select StrConv('ab C', 4) from Goods where ID=1").toText(), "ａｂ　Ｃ");
  EXPECT_EQ(value("select StrConv('ａｂ', 9) from Goods where ID=1").toText(), "AB");
  EXPECT_EQ(value("select StrConv('Φ', 2) from Goods where ID=1").toText(), "φ");
  EXPECT_TRUE(value("select StrConv(Null, 8) from Goods where ID=1").isNull());
  try {
    db->execute("select StrConv(Name, 3) from Goods");
    ADD_FAILURE() << "proper case is not offered";
  } catch (const ado::Error& e) {
    EXPECT_EQ(e.description, "Invalid procedure call or argument");
  }
}

TEST_F(JetComparison, CurrencySumsAndMeansAreExact) {
  // The demo's December prices: a double's sum would read 840681.240000001.
  const ado::Variant sum = value("select sum(PriceTax) from Demo");
  EXPECT_EQ(sum.type(), ado::Variant::Type::Currency);
  EXPECT_EQ(sum.toText(), "840681.24");
  EXPECT_EQ(value("select Sum([Demo].[PriceTax]) as total from Demo").toText(), "840681.24");
  // Beyond a double's 15 digits, and a mean rounded half away from zero.
  EXPECT_EQ(value("select sum(Price) from Goods").toText(), "123456789012.3456");
  EXPECT_EQ(value("select sum(Price) from Goods where ID > 2").toText(), "0");
  EXPECT_EQ(value("select avg(Price) from Goods where ID in (3, 4)").toText(), "0.0002");
  EXPECT_EQ(value("select avg(Price) from Goods where ID in (4, 6)").toText(), "-0.0001");
  EXPECT_EQ(value("select avg(Price) from Goods where ID in (3, 6)").toText(), "-0.0001");
  EXPECT_EQ(value("select avg(Price) from Goods").type(), ado::Variant::Type::Currency);
  EXPECT_TRUE(value("select sum(Price) from Goods where ID = 5").isNull());
  // Per group, and with other items beside it.
  ado::ResultSet rs = db->execute("select ID, sum(Price), count(*) from Goods where ID < 3 group by ID order by ID");
  ASSERT_EQ(rs.rows, 2u);
  EXPECT_EQ(rs.cells[1].toText(), "61728394506.1728");
  EXPECT_EQ(rs.cells[1].type(), ado::Variant::Type::Currency);
  // A Double column keeps its double arithmetic.
  EXPECT_EQ(value("select sum(Weight) from Goods").type(), ado::Variant::Type::Double);
}

// Counts and positions are rounded to the nearest whole number, half to
// even, as VB rounds them, never cut.
TEST_F(JetComparison, PositionsAreRoundedNotCut) {
  auto at = [&](const std::string& expr) { return value("select " + expr + " from Goods where ID=1").toText(); };
  EXPECT_EQ(at("Mid('abcdef', 2.6)"), "cdef");
  EXPECT_EQ(at("Mid('abcdef', 2.5)"), "bcdef");
  EXPECT_EQ(at("Mid('abcdef', 3.5, 1.6)"), "de");
  EXPECT_EQ(at("Left('abcdef', 2.7)"), "abc");
  EXPECT_EQ(at("Right('abcdef', 1.5)"), "ef");
  EXPECT_EQ(at("InStr(1.6, 'abab', 'a')"), "3");
  EXPECT_EQ(at("InStr(2.5, 'abab', 'b')"), "2");
}

// The name search compares a name in one pass over its bytes where it can; it
// must find what narrowing the name first and then comparing finds, for names
// mixing half- and full-width forms, the ideographic space, the letters that
// fold into ASCII, and a full-width sign.
TEST(NameSearch, FindsWhatTheNameNarrowedFirstWouldMatch) {
  fixtures::TempDir dir;
  jetwrite::Database lib;
  lib.password = "4917";
  const std::vector<std::string> names = {
      "hrb４００ 盘螺", "HRB400ＡＢ", "ＡＢ　型管", "盘\u017F螺 ＡＢ", "xx\u212Ayy", "ｈｒｂ４００", "hrb400 圆钢",
      "Ｈrb400", "螺纹钢 hrb40", "ab 型", "ＡＢ型", "钢\u3000管", "s螺", "\u212A钢\uFF01"};
  jetwrite::Table t{"Goods", {{"ID", ColumnType::Long}, {"Name", ColumnType::Text, 50}}, {}};
  for (std::size_t i = 0; i < names.size(); ++i) t.rows.push_back({std::to_string(i + 1), names[i]});
  lib.tables.push_back(t);
  auto db = ado::Database::open(fixtures::writeLibrary(dir, "names.zdj", lib), "4917");
  auto ids = [&](const std::string& where) {
    std::string out;
    const ado::ResultSet rs = db->execute("select ID from Goods where " + where + " order by ID");
    for (std::size_t r = 0; r < rs.rows; ++r) out += rs.cells[r].toText() + " ";
    return out;
  };
  std::size_t found = 0;
  for (const std::string pattern : {"%hrb400%", "%ab%", "%ab 型%", "%s螺%", "%k%", "%400%", "%钢 管%", "%!%", "%k钢!%"}) {
    const std::string searched = ids("StrConv(Name, 8) like '" + pattern + "'");
    // Not the name search's form: the name narrowed, then compared.
    EXPECT_EQ(searched, ids("StrConv(Name, 8) || '' like '" + pattern + "'")) << pattern;
    found += std::size_t(std::count(searched.begin(), searched.end(), ' '));
  }
  EXPECT_EQ(ids("StrConv(Name, 8) like '%hrb400%'"), "1 2 6 7 8 ");
  EXPECT_EQ(ids("StrConv(Name, 8) like '%s螺%'"), "4 13 ");
  EXPECT_GT(found, 20u);
}

}  // namespace
