// Rows that a statement's ORDER BY leaves equal come in one order: their
// tables' rows as the library stores them, the tables taken as FROM names
// them. The library below stores its rows out of every other order (ids,
// factories, names), and a factory id twice, so that any other order shows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixtures.h"
#include "platform/database/jet_database.h"
#include "platform/database/jet_sql.h"

namespace {

using fixtures::ColumnType;

class TiedRows : public ::testing::Test {
 protected:
  void SetUp() override {
    jetwrite::Database lib;
    lib.password = "4917";
    // Factory 2 twice (a second site under the same id), stored around factory 1.
    lib.tables.push_back({"Factory",
                          {{"ID", ColumnType::Long}, {"Name", ColumnType::Text, 50}},
                          {{"2", "乙厂"}, {"1", "甲厂"}, {"2", "乙厂分厂"}}});
    lib.tables.push_back({"CLProduct",
                          {{"ID", ColumnType::Long},
                           {"CategoryID", ColumnType::Long},
                           {"FactoryID", ColumnType::Long},
                           {"Name", ColumnType::Text, 50},
                           {"sortid", ColumnType::Long}},
                          {{"30", "7", "1", "c", "5"},
                           {"10", "7", "2", "a", "5"},
                           {"20", "7", "1", "B", "5"},
                           {"40", "8", "2", "d", std::nullopt},
                           {"50", "7", "1", "e", "5"},
                           {"5", "7", "2", "f", "5"}}});
    db = ado::Database::open(fixtures::writeLibrary(dir, "tied.zdj", lib), "4917");
  }

  // "name/factory" of each row of the product grid's statement.
  std::vector<std::string> rows(const std::string& where, const std::string& order) {
    const ado::ResultSet rs = db->execute(
        "select CLProduct.Name, Factory.Name from CLProduct inner join Factory on CLProduct.FactoryID=Factory.ID" +
        where + " order by " + order);
    std::vector<std::string> out;
    for (std::size_t r = 0; r < rs.rows; ++r) out.push_back(rs.cells[r * 2].toText() + "/" + rs.cells[r * 2 + 1].toText());
    return out;
  }

  fixtures::TempDir dir;
  std::shared_ptr<ado::Database> db;
};

TEST_F(TiedRows, ComeAsTheLibraryStoresThemWhateverTheEngineWalks) {
  // Within a factory and sortid, the products in their stored order; a
  // product joined to both rows of factory 2, those in their stored order.
  const std::vector<std::string> grid = {"c/甲厂", "B/甲厂", "e/甲厂", "d/乙厂", "d/乙厂分厂",
                                         "a/乙厂", "a/乙厂分厂", "f/乙厂", "f/乙厂分厂"};
  const std::string order = "CLProduct.FactoryID asc,CLProduct.sortid";
  EXPECT_EQ(rows("", order), grid);                                          // every product
  EXPECT_EQ(rows(" where CLProduct.ID<=100", order), grid);                  // a condition on products
  EXPECT_EQ(rows(" where Factory.Name like '%厂%'", order), grid);           // a search by factory name
  EXPECT_EQ(rows(" where StrConv(Factory.Name, 8) like '%厂%'", order), grid);
  EXPECT_EQ(rows(" where Factory.ID>0 and CLProduct.ID>0", order), grid);    // conditions on both
  // A category: its products only, in the same order.
  EXPECT_EQ(rows(" where CLProduct.CategoryID=7", order),
            (std::vector<std::string>{"c/甲厂", "B/甲厂", "e/甲厂", "a/乙厂", "a/乙厂分厂", "f/乙厂", "f/乙厂分厂"}));
  // Every product ties: the first table's stored order, then the second's.
  EXPECT_EQ(rows(" where Factory.Name like '%厂%'", "CLProduct.CategoryID"),
            (std::vector<std::string>{"c/甲厂", "a/乙厂", "a/乙厂分厂", "B/甲厂", "e/甲厂", "f/乙厂", "f/乙厂分厂",
                                      "d/乙厂", "d/乙厂分厂"}));
  // A descending key.
  EXPECT_EQ(rows(" where CLProduct.FactoryID=1", "CLProduct.sortid desc"),
            (std::vector<std::string>{"c/甲厂", "B/甲厂", "e/甲厂"}));
}

TEST_F(TiedRows, TopTakesTheFirstInThatOrder) {
  const ado::ResultSet rs = db->execute(
      "select top 3 CLProduct.Name from CLProduct inner join Factory on CLProduct.FactoryID=Factory.ID "
      "where Factory.Name like '%厂%' order by CLProduct.sortid desc");
  ASSERT_EQ(rs.rows, 3u);
  EXPECT_EQ(rs.cells[0].toText() + rs.cells[1].toText() + rs.cells[2].toText(), "caa");
  // A table on its own, and the same table under an alias.
  const ado::ResultSet one = db->execute("select Name from Factory order by ID desc");
  ASSERT_EQ(one.rows, 3u);
  EXPECT_EQ(one.cells[0].toText() + "," + one.cells[1].toText() + "," + one.cells[2].toText(), "乙厂,乙厂分厂,甲厂");
  const ado::ResultSet aliased = db->execute(
      "select p.Name from CLProduct as p inner join Factory f on p.FactoryID=f.ID where f.ID=2 order by p.CategoryID");
  ASSERT_EQ(aliased.rows, 6u);
  std::string names;
  for (std::size_t r = 0; r < aliased.rows; ++r) names += aliased.cells[r].toText();
  EXPECT_EQ(names, "aaffdd");
}

TEST(SettledOrder, KeysAndTheWalkOfAJoin) {
  using ado::settleOrder;
  // One key per table, after the statement's own, before a limit.
  EXPECT_EQ(settleOrder("select * from T order by a desc LIMIT 5", "rowid"),
            "select * from T order by a desc, T.rowid LIMIT 5");
  EXPECT_EQ(settleOrder("select x from [My T] as m left join U on m.k=U.k where U.v=1 order by x;", "_rowid_"),
            "select x from [My T] as m left join U on m.k=U.k where U.v=1 order by x, m._rowid_, U._rowid_;");
  // An inner join whose condition is on the first table alone walks that table.
  EXPECT_EQ(settleOrder("select A.n, B.n from A inner join B on A.b=B.id where A.id in (1,2) and StrConv(A.n, 8) is "
                        "not null order by A.b",
                        "rowid"),
            "select A.n, B.n from A cross join B on A.b=B.id where A.id in (1,2) and StrConv(A.n, 8) is not null "
            "order by A.b, A.rowid, B.rowid");
  EXPECT_EQ(settleOrder("select * from (A inner join B on A.b=B.id) join C on (C.id=B.c) order by 1", "rowid"),
            "select * from (A cross join B on A.b=B.id) cross join C on (C.id=B.c) order by 1, A.rowid, B.rowid, C.rowid");
  // Conditions that name another table, or a column of no named table, leave
  // the walk to the engine.
  for (const char* where : {" where B.n='x'", " where n='x'", " where A.id in (select id from B)"})
    EXPECT_EQ(settleOrder(std::string("select * from A inner join B on A.b=B.id") + where + " order by A.b", "rowid"),
              std::string("select * from A inner join B on A.b=B.id") + where + " order by A.b, A.rowid, B.rowid");
  // Unchanged: no order asked for, rows that are not a table's, no name to use.
  for (const char* same : {"select * from A inner join B on A.b=B.id", "select distinct a from T order by a",
                           "select a, count(*) from T group by a order by a", "select a from T union select a from U order by a",
                           "select * from (select a from T) order by a", "(select a from T) order by a"})
    EXPECT_EQ(settleOrder(same, "rowid"), same);
  EXPECT_EQ(settleOrder("select * from T order by a", ""), "select * from T order by a");
}

}  // namespace
