// The provider over libraries written by the project's Jet writer: what the
// programs' statements rely on from Jet.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include "fixtures.h"
#include "platform/database/adodb.h"
#include "platform/database/jet_database.h"

namespace {

using ado::Variant;

jetwrite::Database project() {
  jetwrite::Database db;
  db.password = "tqwmzhpbnk3";
  db.tables.push_back({"stbgset",
                       {{"tname", fixtures::ColumnType::Text, 50},
                        {"zhlb", fixtures::ColumnType::Text, 50},
                        {"yc", fixtures::ColumnType::Long},
                        {"sortid", fixtures::ColumnType::Long},
                        {"mc", fixtures::ColumnType::Text, 50},
                        {"DataField", fixtures::ColumnType::Text, 100},
                        {"Editable", fixtures::ColumnType::YesNo}},
                       {{"CLProduct", "系统管理员", "0", "2", "厂家", "Factory.Name", "false"},
                        {"CLProduct", "-1", "0", "1", "名称", "Name", "true"},
                        {"CLProduct", "-1", "1", "3", "隐藏", "Model", "true"},
                        {"Category", "-1", "0", "1", "分类", "Name", "false"},
                        {"CLProduct", "", "0", "1", "mine", "Name", std::nullopt}}});
  db.tables.push_back({"stxmsy",
                       {{"tname", fixtures::ColumnType::Text, 50},
                        {"onlyid", fixtures::ColumnType::Text, 50},
                        {"syid", fixtures::ColumnType::Text, 50},
                        {"sortid", fixtures::ColumnType::Text, 50},
                        {"onlyid1", fixtures::ColumnType::Text, 50},
                        {"inner", fixtures::ColumnType::Text, 255}},
                       {{"CLProduct", "ID", "", "ID desc", std::nullopt,
                         " inner join Factory on CLProduct.FactoryID=Factory.ID"}}});
  return db;
}

class Provider : public ::testing::Test {
 protected:
  void SetUp() override {
    lib = fixtures::writeLibrary(dir, "lib.zdj");
    pro = fixtures::writeLibrary(dir, "pro.mdb", project());
    conn.Open(fixtures::connectionString(lib, "4917"));
    proConn.Open(fixtures::connectionString(pro, "tqwmzhpbnk3"));
  }
  long count(const std::string& sql, const ado::Connection& c) {
    ado::Recordset rs;
    rs.Open(sql, c, 1, 1, -1);
    long n = rs.RecordCount();
    rs.Close();
    return n;
  }
  long count(const std::string& sql) { return count(sql, conn); }
  Variant first(const std::string& sql) {
    ado::Recordset rs;
    rs.Open(sql, conn, 1, 1, -1);
    Variant v = rs.Fields(0).Value();
    rs.Close();
    return v;
  }
  fixtures::TempDir dir;
  std::string lib, pro;
  ado::Connection conn, proConn;
};

TEST_F(Provider, TextComparisonAndLikeFollowJet) {
  // '=' on text ignores case, as the layout lookup by table name needs.
  EXPECT_EQ(count("select * from stbgset where tname='clproduct' and zhlb='' and yc=0 order by sortid", proConn), 1);
  EXPECT_EQ(count("select * from stbgset where tname='CLPRODUCT' and zhlb='系统管理员' and yc=0 Or  "
                  "tname='CLPRODUCT' and zhlb='-1' and yc=0 order by sortid",
                  proConn),
            2);
  EXPECT_EQ(count("select * from stxmsy where tname='clproduct'", proConn), 1);
  EXPECT_EQ(count("select * from Category where Name='CEMENT'"), 1);
  // like: % any run, _ one character, case ignored for ASCII, Chinese matched as text.
  EXPECT_EQ(count("select * from CLProduct where CLProduct.Name like '%钢%'"), 2);
  EXPECT_EQ(count("select * from CLProduct where Name like 'steel%'"), 1);
  EXPECT_EQ(count("select * from Category where Name like 'Steel_plate'"), 1);
  EXPECT_EQ(count("select * from Category where Name like 'Steel%Plate'"), 1);
  EXPECT_EQ(count("select * from Category where Name like '螺_钢'"), 1);
  EXPECT_EQ(count("select  Factory.Name from Factory where Factory.Name like '%50%%'"), 1);
  EXPECT_EQ(count("select * from Factory where Name like '%ACME%'"), 2);
  // Null is not the empty text.
  EXPECT_EQ(count("select * from Category where ico is null"), 3);
  EXPECT_EQ(count("select * from CLProduct where Remark=''"), 1);
}

TEST_F(Provider, TextsTakenOutOfARecordAreTheGridsTexts) {
  ado::Recordset rs;
  rs.Open("select Name, Price, Remark, Updated from CLProduct where ID>=2 order by ID", conn, 1, 1, -1);
  // Each field as toText gives it; a text is moved out, a number stays.
  EXPECT_EQ(rs.takeText(0), "螺纹钢 HRB500");
  EXPECT_EQ(rs.Fields(0).Value().toText(), "");
  EXPECT_EQ(rs.takeText(1), "1234567.8912");
  EXPECT_EQ(rs.takeText(1), "1234567.8912");
  EXPECT_EQ(rs.takeText(2), "");  // Null
  EXPECT_EQ(rs.takeText(3), "2026-12-01");
  rs.MoveNext();
  EXPECT_EQ(rs.takeText(0), "STEEL plate 10mm");
  EXPECT_EQ(rs.Fields("Name").Value().toText(), "");
  EXPECT_EQ(rs.takeText(1), "-0.0001");
  rs.MoveNext();
  EXPECT_EQ(rs.Fields(0).Value().toText(), "Cement P.O 42.5") << "the next record is untouched";
  auto number = [&](auto f) {
    try {
      f();
    } catch (const ado::Error& e) {
      return e.number;
    }
    return 0L;
  };
  EXPECT_EQ(number([&] { rs.takeText(4); }), 3265);
  EXPECT_EQ(number([&] { rs.takeText(-1); }), 3265);
  rs.MoveNext();
  EXPECT_EQ(number([&] { rs.takeText(0); }), 3021);
  rs.Close();
  EXPECT_EQ(number([&] { rs.takeText(0); }), 3704);
}

TEST_F(Provider, ValuesKeepTheirJetTypes) {
  ado::Recordset rs;
  rs.Open("select * from CLProduct order by ID", conn, 1, 1, -1);
  ASSERT_EQ(rs.RecordCount(), 4);
  ASSERT_EQ(rs.FieldsCount(), 12);
  EXPECT_EQ(rs.Fields("Price").Value().type(), Variant::Type::Currency);
  EXPECT_EQ(rs.Fields("Price").Value().currencyUnits(), 35000);
  EXPECT_EQ(rs.Fields("Price").Value().toText(), "3.5");
  EXPECT_EQ(rs.Fields("Weight").Value().toText(), "12.5");
  EXPECT_EQ(rs.Fields("Ratio").Value().type(), Variant::Type::Single);
  EXPECT_EQ(rs.Fields("Ratio").Value().toText(), "0.25");
  EXPECT_EQ(rs.Fields("Pieces").Value().type(), Variant::Type::Integer);
  EXPECT_EQ(rs.Fields("Pieces").Value().toInt64(), -7);
  EXPECT_EQ(rs.Fields("Grade").Value().type(), Variant::Type::Byte);
  EXPECT_EQ(rs.Fields("Grade").Value().toInt64(), 200);
  EXPECT_EQ(rs.Fields("Listed").Value().type(), Variant::Type::Boolean);
  EXPECT_EQ(rs.Fields("Listed").Value().toInt64(), -1);
  EXPECT_EQ(rs.Fields("Updated").Value().toText(), "2026-12-01 08:30:00");
  EXPECT_EQ(rs.Fields("Remark").Value().toText(), "长文本" + std::string(3000, 'x'));
  rs.MoveNext();
  EXPECT_EQ(rs.Fields("Price").Value().currencyUnits(), 12345678912);
  EXPECT_EQ(rs.Fields("Price").Value().toText(), "1234567.8912");
  EXPECT_EQ(rs.Fields("Listed").Value().toInt64(), 0);
  EXPECT_EQ(rs.Fields("Listed").Value().toText(), "False");
  EXPECT_EQ(rs.Fields("Updated").Value().toText(), "2026-12-01");
  EXPECT_TRUE(rs.Fields("Remark").Value().isNull());
  rs.MoveNext();
  EXPECT_EQ(rs.Fields("Price").Value().currencyUnits(), -1);
  EXPECT_EQ(rs.Fields("Price").Value().toText(), "-0.0001");
  EXPECT_TRUE(rs.Fields("Weight").Value().isNull());
  EXPECT_TRUE(rs.Fields("Updated").Value().isNull());
  EXPECT_EQ(rs.Fields("Weight").Value().toText(), "");
  EXPECT_FALSE(rs.Fields("Remark").Value().isNull());
  rs.MoveNext();
  EXPECT_EQ(rs.Fields("Pieces").Value().toInt64(), 32767);
  EXPECT_EQ(rs.Fields("Updated").Value().toText(), "1999-12-31 23:59:59");
  rs.MoveNext();
  EXPECT_TRUE(rs.IsEOF());

  // Booleans are -1 / 0, in values and in conditions.
  EXPECT_EQ(count("select * from CLProduct where Listed=True"), 2);
  EXPECT_EQ(count("select * from CLProduct where Listed=-1"), 2);
  EXPECT_EQ(count("select * from CLProduct where Listed=False"), 2);
  EXPECT_EQ(count("select * from stbgset where Editable=true", proConn), 2);
  EXPECT_EQ(first("select sum(Price) from CLProduct").toDouble(), 1234571.3911);
  EXPECT_EQ(first("select Price from CLProduct where Price > 3.4 and Price < 3.6").currencyUnits(), 35000);
}

TEST_F(Provider, StatementsOfTheGridFill) {
  ado::Recordset rs;
  // Top level of the category outline, then one node's children.
  rs.Open("select  Category.Name,Category.ico,Category.ID,Category.ID from Category where ID=0 order by Category.ID",
          conn, 1, 1, -1);
  ASSERT_EQ(rs.RecordCount(), 1);
  EXPECT_EQ(rs.Fields(1).Name(), "ico");
  EXPECT_EQ(rs.Fields("ico").Value().toText(), "材料");
  EXPECT_EQ(rs.Fields(rs.FieldsCount() - 1).Name(), "ID");
  rs.Close();
  rs.Open("select Category.Name,Category.ico,Category.ID,Category.ID from Category where ParentID=0 order by ID desc",
          conn, 1, 1, -1);
  ASSERT_EQ(rs.RecordCount(), 2);
  EXPECT_EQ(rs.Fields("Name").Value().toText(), "Cement");
  rs.MoveNext();
  EXPECT_EQ(rs.Fields("Name").Value().toText(), "钢材");
  rs.Close();

  // Product grid: join text from the settings, ordering descending.
  rs.Open("select  CLProduct.Name,Factory.Name,CLProduct.CategoryID,CLProduct.FactoryID,CLProduct.ID,CLProduct.ID "
          "from CLProduct inner join Factory on CLProduct.FactoryID=Factory.ID where CLProduct.CategoryID=3 "
          "order by CLProduct.ID desc",
          conn, 1, 1, -1);
  ASSERT_EQ(rs.RecordCount(), 2);
  // Two fields of one name from two tables: named by table, as ADO names
  // them; the same field twice from one table keeps its name.
  EXPECT_EQ(rs.Fields(0).Name(), "CLProduct.Name");
  EXPECT_EQ(rs.Fields(1).Name(), "Factory.Name");
  EXPECT_EQ(rs.Fields(4).Name(), "ID");
  EXPECT_EQ(rs.Fields("factory.name").Value().toText(), "杭州钢铁有限公司");
  EXPECT_EQ(rs.Fields(0).Value().toText(), "螺纹钢 HRB500");
  EXPECT_EQ(rs.Fields(1).Value().toText(), "杭州钢铁有限公司");
  EXPECT_EQ(rs.Fields(5).Value().toText(), "2");
  rs.Close();
  EXPECT_EQ(count("select * from CLProduct where CLProduct.CategoryID=99"), 0);
  EXPECT_EQ(count("select * from Category"), 5);
  EXPECT_EQ(count("select count(*) from CLProduct"), 1);
  EXPECT_EQ(first("select count(*) from CLProduct").toInt64(), 4);

  // The outline and the joins search by id and link columns: those are indexed.
  auto plan = [&](const std::string& sql) {
    sqlite3_stmt* st = nullptr;
    std::string text;
    sqlite3_prepare_v2(conn.database()->sqlite(), ("EXPLAIN QUERY PLAN " + sql).c_str(), -1, &st, nullptr);
    while (sqlite3_step(st) == SQLITE_ROW) text += reinterpret_cast<const char*>(sqlite3_column_text(st, 3));
    sqlite3_finalize(st);
    return text;
  };
  EXPECT_NE(plan("select * from CLProduct where CategoryID=3").find("INDEX"), std::string::npos);
  EXPECT_NE(plan("select * from Category where ParentID=1").find("INDEX"), std::string::npos);
  EXPECT_NE(plan("select * from Factory where ID=1").find("INDEX"), std::string::npos);
  // A column searched with "=" gets its index with the first such statement.
  EXPECT_EQ(plan("select * from Category where Name='x'").find("INDEX"), std::string::npos);
  EXPECT_EQ(count("select * from Category where Category.name='CEMENT' and ID<>7"), 1);
  EXPECT_NE(plan("select * from Category where Name='x'").find("INDEX"), std::string::npos);
  EXPECT_TRUE(conn.database()->ensureIndex("clproduct", "name"));
  EXPECT_NE(plan("select * from CLProduct where Name='x'").find("INDEX"), std::string::npos);
  EXPECT_FALSE(conn.database()->ensureIndex("CLProduct", "nosuch"));
}

TEST_F(Provider, RecordsetErrorsAreProviderErrors) {
  auto number = [&](auto&& f) -> long {
    try {
      f();
    } catch (const ado::Error& e) {
      EXPECT_FALSE(e.description.empty());
      return e.number;
    }
    return 0;
  };
  ado::Recordset rs;
  EXPECT_EQ(number([&] { rs.Open("select * from NoSuchTable", conn); }), -2147217865);
  try {
    rs.Open("select * from NoSuchTable", conn);
    ADD_FAILURE() << "opened";
  } catch (const ado::Error& e) {
    EXPECT_NE(e.description.find("'NoSuchTable'"), std::string::npos);
  }
  EXPECT_EQ(number([&] { rs.Open("select  Category.Name, from Category", conn); }), -2147217900);
  EXPECT_EQ(number([&] { rs.Open("select * from Category where ID=", conn); }), -2147217900);
  EXPECT_EQ(number([&] { rs.Open("select nosuch from Category", conn); }), -2147217904);
  EXPECT_EQ(number([&] { rs.Open("delete from Category", conn); }), -2147467259);
  EXPECT_EQ(number([&] { rs.Open("select * from Category; delete from Category", conn); }), -2147217900);
  EXPECT_EQ(count("select * from Category"), 5);
  EXPECT_EQ(rs.State(), 0);
  EXPECT_EQ(number([&] { rs.RecordCount(); }), 3704);
  EXPECT_EQ(number([&] { rs.Close(); }), 3704);

  rs.Open("select ID from Category where ID=4", conn);
  EXPECT_EQ(number([&] { rs.Open("select * from Category", conn); }), 3705);
  EXPECT_EQ(number([&] { rs.Fields("Name"); }), 3265);
  EXPECT_EQ(number([&] { rs.Fields(1); }), 3265);
  rs.MoveNext();
  EXPECT_TRUE(rs.IsEOF());
  // Past the end the fields are there with their names; their values are not.
  EXPECT_EQ(number([&] { rs.Fields(0).Value(); }), 3021);
  EXPECT_EQ(number([&] { rs.Fields("ID").Value(); }), 3021);
  EXPECT_EQ(rs.Fields(0).Name(), "ID");
  EXPECT_EQ(number([&] { rs.MoveNext(); }), 3021);
  EXPECT_EQ(rs.FieldsCount(), 1);
  rs.Close();

  // A set without rows names its fields, as ADO's does.
  rs.Open("select Category.Name, ico, ID*2 from Category where ID=99", conn);
  EXPECT_EQ(rs.RecordCount(), 0);
  EXPECT_TRUE(rs.IsEOF());
  ASSERT_EQ(rs.FieldsCount(), 3);
  EXPECT_EQ(rs.Fields(0).Name(), "Name");
  EXPECT_EQ(rs.Fields("ICO").Name(), "ico");
  EXPECT_EQ(rs.Fields(2).Name(), "Expr1000");
  EXPECT_EQ(number([&] { rs.Fields("Name").Value(); }), 3021);
  EXPECT_EQ(number([&] { rs.Fields(3); }), 3265);
  rs.Close();

  ado::Connection closed;
  EXPECT_EQ(closed.State(), 0);
  EXPECT_EQ(number([&] { rs.Open("select * from Category", closed); }), 3709);
  EXPECT_EQ(number([&] { closed.Close(); }), 3704);
  EXPECT_EQ(number([&] { conn.Open(fixtures::connectionString(lib, "4917")); }), 3705);
  EXPECT_EQ(number([&] {
              closed.Open("Provider=SQLOLEDB;Data Source=" + lib + ";Jet OLEDB:Database Password=4917");
            }),
            3706);
  // A record set keeps its rows after the connection is closed and reopened.
  rs.Open("select * from Category", conn);
  conn.Close();
  EXPECT_EQ(rs.RecordCount(), 5);
  EXPECT_EQ(rs.Fields("Name").Value().toText(), "全部材料");
}

TEST_F(Provider, FileNamesAsTheConnectionStringGivesThem) {
  // Windows-style separators, blanks, Chinese, and a name in other case.
  std::string odd = fixtures::writeLibrary(dir, "材料 库 2026.zdj");
  ado::Connection c;
  c.Open(fixtures::connectionString(dir.path().string() + "\\材料 库 2026.zdj", "4917"));
  EXPECT_EQ(c.State(), 1);
  c.Close();
  c.Open(fixtures::connectionString(dir.path().string() + "\\LIB.ZDJ", "4917"));
  EXPECT_EQ(c.State(), 1);
  c.Close();
  // Quoted values and keys in any case.
  c.Open("provider=Microsoft.Jet.OLEDB.4.0;data source=\"" + odd + "\";JET OLEDB:DATABASE PASSWORD='4917'");
  EXPECT_EQ(c.State(), 1);
  c.Close();
  // A name holding ";" (or quotes) is quoted in the connection string and read back whole.
  for (const std::string name : {"a;b.zdj", "it's;x.zdj", "say \"hi\";'x'.zdj"}) {
    const std::string path = fixtures::writeLibrary(dir, name);
    c.Open(fixtures::connectionString(ado::connectionValue(path), "4917"));
    EXPECT_EQ(c.State(), 1) << name;
    EXPECT_EQ(c.database()->path(), path);
    c.Close();
  }
  try {
    ado::Connection w;
    w.Open(fixtures::connectionString(odd, "4918"));
    ADD_FAILURE();
  } catch (const ado::Error& e) {
    EXPECT_EQ(e.number, -2147217843);
  }
  try {
    ado::Connection w;
    w.Open(fixtures::connectionString(dir.file("没有.zdj"), "4917"));
    ADD_FAILURE();
  } catch (const ado::Error& e) {
    EXPECT_EQ(e.number, -2147467259);
    EXPECT_EQ(e.description, "Could not find file '" + dir.file("没有.zdj") + "'.");
  }
}

TEST(ProviderPasswords, PasswordsOfEveryShape) {
  fixtures::TempDir dir;
  for (std::string pw : {"4917", "tqwmzhpbnk3", "密码Ab1", "12345678901234567890"}) {
    std::string path = fixtures::writeLibrary(dir, "p.zdj", fixtures::library(pw));
    EXPECT_NO_THROW(ado::Database::open(path, pw)) << pw;
    EXPECT_THROW(ado::Database::open(path, pw.substr(1)), ado::Error) << pw;
    EXPECT_THROW(ado::Database::open(path, ""), ado::Error) << pw;
    std::filesystem::remove(path);
  }
}

TEST(ProviderCurrency, EveryDigitAcrossTheWholeRange) {
  fixtures::TempDir dir;
  jetwrite::Database db;
  db.password = "4917";
  // 2^50 units (112589990684.2624) is the largest amount a double gives back
  // exactly; the extremes lost their last digits, the largest came back as the
  // smallest.
  const std::vector<std::pair<std::string, int64_t>> amounts = {
      {"922337203685477.5807", INT64_MAX},         {"-922337203685477.5808", INT64_MIN},
      {"92233720368547.5807", 922337203685475807}, {"999999999999.9999", 9999999999999999},
      {"112589990684.2624", 1125899906842624},     {"112589990684.2625", 1125899906842625},
      {"-112589990684.2625", -1125899906842625},   {"3.5", 35000},
      {"-0.0001", -1},                             {"0", 0}};
  jetwrite::Table t{"Money", {{"ID", fixtures::ColumnType::Long}, {"C", fixtures::ColumnType::Currency}}, {}};
  for (std::size_t i = 0; i < amounts.size(); ++i)
    t.rows.push_back({std::to_string(i), amounts[i].first});
  t.rows.push_back({"99", std::nullopt});
  db.tables.push_back(t);
  const std::string path = fixtures::writeLibrary(dir, "money.zdj", db);

  auto lib = ado::Database::open(path, "4917");
  ado::ResultSet rs = lib->execute("select C from Money order by ID");
  ASSERT_EQ(rs.rows, amounts.size() + 1);
  for (std::size_t i = 0; i < amounts.size(); ++i) {
    EXPECT_EQ(rs.cells[i].type(), Variant::Type::Currency) << amounts[i].first;
    EXPECT_EQ(rs.cells[i].currencyUnits(), amounts[i].second) << amounts[i].first;
    EXPECT_EQ(rs.cells[i].toText(), amounts[i].first) << amounts[i].first;
  }
  EXPECT_TRUE(rs.cells.back().isNull());

  // Ordering and conditions keep the amounts' order across both ranges, and
  // arithmetic on ordinary amounts stays arithmetic on amounts.
  rs = lib->execute("select ID from Money where C is not null order by C");
  std::vector<int64_t> order;
  for (const auto& v : rs.cells) order.push_back(v.toInt64());
  EXPECT_EQ(order, (std::vector<int64_t>{1, 6, 8, 9, 7, 4, 5, 3, 2, 0}));
  EXPECT_EQ(lib->execute("select ID from Money where C > 112589990684.2624").rows, 4u);
  EXPECT_EQ(lib->execute("select ID from Money where C < -1000").rows, 2u);
  EXPECT_EQ(lib->execute("select C * 2 from Money where ID = 7").cells.at(0).toDouble(), 7.0);
  EXPECT_EQ(lib->execute("select C from Money where C = 3.5").cells.at(0).currencyUnits(), 35000);
  EXPECT_EQ(lib->execute("select max(C) from Money where C < 1000").cells.at(0).toDouble(), 3.5);
}

TEST(ProviderGuids, ReadAsTheirTextAndFoundInAnyCase) {
  fixtures::TempDir dir;
  jetwrite::Database db;
  db.password = "4917";
  db.tables.push_back({"Links",
                       {{"ID", fixtures::ColumnType::Long}, {"G", fixtures::ColumnType::Guid}},
                       {{"1", "{6B29FC40-CA47-1067-B31D-00DD010662DA}"},
                        {"2", "00000000-0000-0000-0000-000000000001"},
                        {"3", std::nullopt}}});
  auto lib = ado::Database::open(fixtures::writeLibrary(dir, "guid.zdj", db), "4917");
  ado::ResultSet rs = lib->execute("select G from Links order by ID");
  ASSERT_EQ(rs.rows, 3u);
  EXPECT_EQ(rs.cells[0].toText(), "{6B29FC40-CA47-1067-B31D-00DD010662DA}");
  EXPECT_EQ(rs.cells[1].toText(), "{00000000-0000-0000-0000-000000000001}");
  EXPECT_TRUE(rs.cells[2].isNull());
  EXPECT_EQ(lib->execute("select ID from Links where G='{6b29fc40-ca47-1067-b31d-00dd010662da}'").rows, 1u);
  EXPECT_EQ(lib->tables().at(0).columns.at(1).type, ado::JetType::Guid);
}

TEST(ProviderPlans, SearchesScanTheTableLookupsUseTheirIndexes) {
  // A product search with a leading wildcard, joined and ordered as the product
  // grid orders it, scans the products and sorts the matches instead of walking
  // the manufacturer index with one lookup per product; the lookups by category,
  // manufacturer and parent keep their indexes.
  fixtures::TempDir dir;
  jetwrite::Database db = fixtures::library();
  jetwrite::Table& products = db.tables[2];
  products.rows.clear();
  const std::size_t cols = products.columns.size();
  for (int i = 1; i <= 3000; ++i) {
    std::vector<jetwrite::Value> row(cols);
    row[0] = std::to_string(i);
    row[1] = std::to_string(i % 5);
    row[2] = std::to_string(1 + i % 60);
    row[3] = (i % 7 == 0 ? "螺纹钢 " : "水泥 ") + std::to_string(i);
    row[4] = "1.5";
    products.rows.push_back(row);
  }
  jetwrite::Table& factories = db.tables[1];
  for (int i = 4; i <= 60; ++i) factories.rows.push_back({std::to_string(i), "厂家" + std::to_string(i)});
  const std::string path = fixtures::writeLibrary(dir, "big.zdj", db);
  auto lib = ado::Database::open(path, "4917");

  auto plan = [&](const std::string& jet) {
    const std::string sql = "EXPLAIN QUERY PLAN " + ado::translateJetSql(jet);
    sqlite3_stmt* st = nullptr;
    std::string text;
    sqlite3_prepare_v2(lib->sqlite(), sql.c_str(), -1, &st, nullptr);
    while (sqlite3_step(st) == SQLITE_ROW) text += std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, 3))) + "\n";
    sqlite3_finalize(st);
    return text;
  };
  const std::string grid = "select  CLProduct.Name,Factory.Name,CLProduct.CategoryID,CLProduct.FactoryID,CLProduct.ID "
                           "from CLProduct inner join Factory on CLProduct.FactoryID=Factory.ID";
  const std::string order = " order by CLProduct.FactoryID asc,CLProduct.ID";
  const std::string search = grid + " where CLProduct.Name like '%钢%'" + order;
  // The statement itself makes the join's index, as in the program.
  ado::ResultSet found = lib->execute(search);
  EXPECT_NE(plan(search).find("SCAN CLProduct\n"), std::string::npos) << plan(search);
  // So does the name search, which compares the names' half-width forms.
  const std::string byName = grid + " where StrConv(CLProduct.Name, 8) like '%钢%'" + order;
  EXPECT_NE(plan(byName).find("SCAN CLProduct\n"), std::string::npos) << plan(byName);
  EXPECT_EQ(lib->execute(byName).cells.size(), found.cells.size());
  ASSERT_EQ(found.rows, 3000u / 7);
  for (std::size_t r = 1; r < found.rows; ++r) {
    const auto key = [&](std::size_t row) {
      return std::pair(found.cells[row * 5 + 3].toInt64(), found.cells[row * 5 + 4].toInt64());
    };
    EXPECT_LT(key(r - 1), key(r));
  }
  EXPECT_NE(plan(grid + " where CLProduct.CategoryID=3" + order).find("USING INDEX"), std::string::npos);
  EXPECT_NE(plan(grid + " where CLProduct.FactoryID=2" + order).find("(FactoryID=?)"), std::string::npos) << plan(grid + " where CLProduct.FactoryID=2" + order);
  EXPECT_NE(plan("select * from Category where ParentID=1 order by ID").find("(ParentID=?)"), std::string::npos) << plan("select * from Category where ParentID=1 order by ID");
  // An index made later for a statement's "=" gets its figures as well.
  lib->execute("select * from CLProduct where Name='水泥 1'");
  EXPECT_NE(plan("select * from CLProduct where Name='水泥 1'").find("(Name=?)"), std::string::npos);
  EXPECT_NE(plan(search).find("SCAN CLProduct\n"), std::string::npos) << plan(search);
}

}  // namespace

namespace {

TEST(ProviderResults, LargeResultsKeepEveryValueInItsRowAndOrder) {
  // Three fields a row over several thousand rows: rows straddle the result's
  // storage blocks, and every value must still be found at row * fields + field,
  // be walked in that order, and match what the row-by-row reading hands over.
  fixtures::TempDir dir;
  jetwrite::Database db;
  db.password = "4917";
  jetwrite::Table big{"Big",
                      {{"ID", fixtures::ColumnType::Long},
                       {"Name", fixtures::ColumnType::Text, 100},
                       {"N", fixtures::ColumnType::Long}},
                      {}};
  const int count = 5000;
  auto name = [](int i) { return "一个相当长的名称，放不进短字符串 " + std::to_string(i); };
  for (int i = 1; i <= count; ++i)
    big.rows.push_back({std::to_string(i), name(i), i % 3 == 0 ? std::nullopt : jetwrite::Value(std::to_string(i * 7))});
  db.tables.push_back(big);
  auto lib = ado::Database::open(fixtures::writeLibrary(dir, "big.zdj", db), "4917");

  const std::string sql = "select ID, Name, N from Big order by ID desc";
  const ado::ResultSet rs = lib->execute(sql);
  ASSERT_EQ(rs.rows, std::size_t(count));
  ASSERT_EQ(rs.cells.size(), std::size_t(count) * 3);
  for (std::size_t r = 0; r < rs.rows; ++r) {
    const int id = count - int(r);
    ASSERT_EQ(rs.cells[r * 3].toInt64(), id) << r;
    ASSERT_EQ(rs.cells[r * 3 + 1].toText(), name(id)) << r;
    if (id % 3 == 0)
      ASSERT_TRUE(rs.cells[r * 3 + 2].isNull()) << r;
    else
      ASSERT_EQ(rs.cells[r * 3 + 2].toInt64(), id * 7) << r;
  }
  EXPECT_EQ(rs.cells.back().toInt64(), 7);
  EXPECT_THROW(rs.cells.at(rs.cells.size()), std::out_of_range);

  std::vector<std::string> walked, handed;
  for (const auto& v : rs.cells) walked.push_back(v.toText());
  lib->forEachRow(sql, [&](std::vector<Variant>& row) {
    for (const Variant& v : row) handed.push_back(v.toText());
  });
  EXPECT_EQ(walked.size(), rs.cells.size());
  EXPECT_EQ(walked, handed);
  EXPECT_TRUE(lib->execute("select ID from Big where ID < 0").cells.empty());
}

}  // namespace
