// Statements as Jet answers them: only one select gets through, the
// operators and functions the layout table's texts may use, text order.
#include <gtest/gtest.h>

#include <filesystem>

#include "fixtures.h"
#include "platform/database/adodb.h"
#include "platform/database/id_set.h"
#include "platform/database/jet_database.h"

namespace {

using ado::Variant;

class Statements : public ::testing::Test {
 protected:
  void SetUp() override {
    jetwrite::Database lib = fixtures::library();
    lib.tables.push_back({"Firm",
                          {{"ID", fixtures::ColumnType::Long},
                           {"Name", fixtures::ColumnType::Text, 50},
                           {"Code", fixtures::ColumnType::Text, 20},
                           {"Amount", fixtures::ColumnType::Double}},
                          {{"1", "云岭", "7", "1.5"},
                           {"2", "北辰", "x", std::nullopt},
                           {"3", "顺达", std::nullopt, "-2"},
                           {"4", "华通", " 12 ", "0"},
                           {"5", "利民", "", "3"},
                           {"6", "东岚", "ab", "4"},
                           {"7", "青川", "AB", "5"},
                           {"8", "金阳", "Ab", "6"}}});
    db = ado::Database::open(fixtures::writeLibrary(dir, "lib.zdj", lib), "4917");
  }
  // The values of the statement's first column, as text ("(null)" for Null).
  std::vector<std::string> column(const std::string& sql) {
    ado::ResultSet rs = db->execute(sql);
    std::vector<std::string> out;
    for (std::size_t r = 0; r < rs.rows; ++r) {
      const Variant& v = rs.cells[r * rs.names.size()];
      out.push_back(v.isNull() ? "(null)" : v.toText());
    }
    return out;
  }
  Variant value(const std::string& sql) {
    ado::ResultSet rs = db->execute(sql);
    EXPECT_EQ(rs.rows, 1u) << sql;
    return rs.rows ? rs.cells.at(0) : Variant::null();
  }
  std::string text(const std::string& sql) {
    Variant v = value(sql);
    return v.isNull() ? "(null)" : v.toText();
  }
  ado::Error error(const std::string& sql) {
    try {
      db->execute(sql);
    } catch (const ado::Error& e) {
      return e;
    }
    return ado::Error(0, "ran");
  }
  fixtures::TempDir dir;
  std::shared_ptr<ado::Database> db;
};

TEST_F(Statements, NothingButOneSelect) {
  // ATTACH would create the file; PRAGMA would change like for the rest of the run.
  const std::string file = dir.file("attached.db");
  for (const std::string& sql : std::vector<std::string>{"attach '" + file + "' as y", "ATTACH DATABASE \"" + file + "\" AS y",
                                "vacuum into '" + file + "'", "pragma case_sensitive_like=1",
                                "PRAGMA writable_schema=1", "begin", "detach y", "analyze", "reindex",
                                "with x as (select 1) select * from x",
                                "with recursive c(n) as (select 1 union all select n+1 from c) select n from c",
                                "select * from Category; pragma case_sensitive_like=1"}) {
    ado::Error e = error(sql);
    EXPECT_NE(e.number, 0) << sql;
    EXPECT_FALSE(std::filesystem::exists(file)) << sql;
  }
  EXPECT_EQ(error("pragma case_sensitive_like=1").description,
            "Invalid SQL statement; expected 'DELETE', 'INSERT', 'PROCEDURE', 'SELECT', or 'UPDATE'.");
  EXPECT_EQ(error("attach '" + file + "' as y").number, -2147217900);
  // like still ignores ASCII case.
  EXPECT_EQ(db->execute("select * from CLProduct where Name like 'steel%'").rows, 1u);
  // Writes of every kind are refused as writes to a read-only file, and change nothing.
  for (const char* sql : {"delete from Category", "update Category set Name='x'", "insert into Category (ID) values (9)",
                          "create table Z (a)", "drop table Category", "create index q on Category (Name)",
                          "alter table Category add column z"}) {
    ado::Error e = error(sql);
    EXPECT_EQ(e.number, -2147467259) << sql;
    EXPECT_EQ(e.description, "Operation must use an updateable query.") << sql;
  }
  EXPECT_EQ(db->execute("select * from Category").rows, 5u);
  // The engine's own tables are none of Jet's.
  EXPECT_EQ(error("select * from sqlite_master").number, -2147217865);
  EXPECT_EQ(error("select name from sqlite_schema").number, -2147217865);
}

TEST_F(Statements, FunctionsJetDoesNotKnowFail) {
  // An unknown function fails as it always did; so do the engine's own, which
  // Jet does not have.
  EXPECT_EQ(error("select Frobnicate(Name) from Category").description, "no such function: Frobnicate");
  for (const char* f : {"substr(Name, 1, 2)", "printf('%d', ID)", "randomblob(9)", "zeroblob(100)",
                        "load_extension('x')", "coalesce(ico, Name)", "hex(Name)", "sqlite_version()",
                        "replace(Name, 'a', 'b')", "lower(Name)"}) {
    ado::Error e = error(std::string("select ") + f + " from Category");
    EXPECT_EQ(e.number, -2147467259) << f;
    EXPECT_EQ(e.description.rfind("no such function: ", 0), 0u) << f << ": " << e.description;
  }
  EXPECT_EQ(text("select count(*) from Category where abs(ID) < 3 and Name like '%'"), "3");
}

TEST_F(Statements, PlusAndAmpersandAsJetHasThem) {
  EXPECT_EQ(text("select 'a' + 'b' from Firm where ID=1"), "ab");
  EXPECT_EQ(text("select Name + '-' + Code from Firm where ID=1"), "云岭-7");
  EXPECT_EQ(text("select 1 + 2 * 3 from Firm where ID=1"), "7");
  EXPECT_EQ(text("select Amount + 1 from Firm where ID=1"), "2.5");
  EXPECT_EQ(text("select Amount + Amount from Firm where ID=1"), "3");
  // A numeric text with a number adds as numbers; another text fails as in Jet.
  EXPECT_EQ(text("select Code + 1 from Firm where ID=1"), "8");
  EXPECT_EQ(text("select Code + Amount from Firm where ID=4"), "12");
  EXPECT_EQ(text("select '1.5' + '2' from Firm where ID=1"), "1.52");
  ado::Error e = error("select Code + 1 from Firm where ID=2");
  EXPECT_EQ(e.number, -2147217913);
  EXPECT_EQ(e.description, "Data type mismatch in criteria expression.");
  EXPECT_EQ(error("select Code + 1 from Firm where ID=5").number, -2147217913);  // "" is no number
  // Null with "+" gives Null; with "&" it counts as "".
  EXPECT_EQ(text("select Name + Code from Firm where ID=3"), "(null)");
  EXPECT_EQ(text("select Amount + 1 from Firm where ID=2"), "(null)");
  EXPECT_EQ(text("select Name & Code from Firm where ID=3"), "顺达");
  EXPECT_EQ(text("select Code & Amount from Firm where ID=3"), "-2");
  EXPECT_EQ(text("select Code & Code from Firm where ID=3"), "(null)");
  EXPECT_EQ(text("select Name & '/' & Amount & '/' & ID from Firm where ID=1"), "云岭/1.5/1");
  // "&" binds looser than "+": 1 & 2 + 3 is "15".
  EXPECT_EQ(text("select 1 & 2 + 3 from Firm where ID=1"), "15");
  EXPECT_EQ(column("select ID from Firm where Name & '' = '北辰'"), std::vector<std::string>{"2"});
}

TEST_F(Statements, TextFunctions) {
  EXPECT_EQ(text("select Left(Name, 1) & Right('abc', 2) & Mid('abcdef', 2, 3) & Mid('abcdef', 5) from Firm where ID=1"),
            "云bcbcdef");
  EXPECT_EQ(text("select Mid('螺纹钢HRB400', 3, 4) from Firm where ID=1"), "钢HRB");
  EXPECT_EQ(text("select Left('ab', 5) & '|' & Right('ab', 0) & '|' & Mid('ab', 9) from Firm where ID=1"), "ab||");
  EXPECT_EQ(text("select Len('螺纹钢') + Len('') + Len(12.5) from Firm where ID=1"), "7");
  EXPECT_EQ(text("select '[' & Trim('  a b  ') & '][' & LTrim('  a ') & '][' & RTrim(' a  ') & ']' from Firm where ID=1"),
            "[a b][a ][ a]");
  EXPECT_EQ(text("select InStr('abcabc', 'c') & InStr(4, 'abcabc', 'c') & InStr('abc', 'x') from Firm where ID=1"), "360");
  EXPECT_EQ(text("select InStr('螺纹钢HRB', 'hrb') & InStr(1, 'ABC', 'b', 0) & InStr(2, 'abc', '') from Firm where ID=1"),
            "402");
  // Positions count characters, not bytes, from a start inside Chinese text;
  // numbers are searched as their text.
  EXPECT_EQ(text("select InStr(2, '钢筋钢筋HRB', '钢') & InStr(3, '钢筋钢筋', 'x') & InStr(12345, 34) & InStr(5, '钢筋', '') & "
                 "InStr('螺纹钢HRB400', '400') & InStr(4, '钢筋钢筋HRB', 'rB') from Firm where ID=1"),
            "303076");
  EXPECT_EQ(text("select IIf(Amount > 2, 'big', 'small') & IIf(Amount, 'y', 'n') from Firm where ID=1"), "smally");
  EXPECT_EQ(text("select IIf(Amount > 2, 'big', 'small') from Firm where ID=2"), "small");  // Null is false
  EXPECT_EQ(text("select Val(' 1 2.5e1x') + Val('abc') + Val('&H10') from Firm where ID=1"), "141");
  EXPECT_EQ(text("select Str(12) & Str(-3.5) & Str(0.5) & Str(Code) from Firm where ID=1"), " 12-3.5 .5 7");
  EXPECT_EQ(text("select Format(Amount, '0.00') & '|' & Format(1234.5, '#,##0.0') & '|' & Format('x', '0') "
                 "from Firm where ID=1"),
            "1.50|1,234.5|x");
  EXPECT_EQ(text("select UCase(Code) & LCase('ÀB') from Firm where ID=6"), "ABàb");
  // A Null text gives Null.
  for (const char* f : {"Left(Code, 1)", "Right(Code, 1)", "Mid(Code, 1)", "Len(Code)", "Trim(Code)", "InStr(Code, 'a')",
                        "InStr('a', Code)", "Str(Code)", "Format(Code, '0')", "UCase(Code)"})
    EXPECT_EQ(text(std::string("select ") + f + " from Firm where ID=3"), "(null)") << f;
  // A Null count or position, or a count out of range, fails.
  EXPECT_EQ(error("select Left(Name, Code) from Firm where ID=3").description, "Invalid use of Null");
  EXPECT_EQ(error("select Val(Code) from Firm where ID=3").description, "Invalid use of Null");
  EXPECT_EQ(error("select Left(Name, -1) from Firm where ID=1").description, "Invalid procedure call or argument");
  EXPECT_EQ(error("select Mid(Name, 0) from Firm where ID=1").description, "Invalid procedure call or argument");
  EXPECT_EQ(error("select InStr(0, Name, 'a') from Firm where ID=1").description, "Invalid procedure call or argument");
  EXPECT_EQ(error("select Str('abc') from Firm where ID=1").number, -2147217913);
  // Format is Jet's whatever the number of arguments, never the engine's printf.
  EXPECT_EQ(text("select Format(1234.5, '#,##0.00', 1, 1) from Firm where ID=1"), "1,234.50");
  EXPECT_EQ(error("select Format('%.*c', 100000000, 'x', 1, 2) from Firm where ID=1").description,
            "Invalid procedure call or argument");
}

TEST_F(Statements, TextSortsByPinyinAndComparesIgnoringAsciiCase) {
  EXPECT_EQ(column("select Name from Firm order by Name"),
            (std::vector<std::string>{"北辰", "东岚", "华通", "金阳", "利民", "青川", "顺达", "云岭"}));
  EXPECT_EQ(column("select Name from Firm order by Name desc").front(), "云岭");
  EXPECT_EQ(column("select min(Name) from Firm"), std::vector<std::string>{"北辰"});
  EXPECT_EQ(column("select ID from Firm where Name < '华通' order by ID"), (std::vector<std::string>{"2", "6"}));
  // "=", "like", "distinct" and "group by" keep ignoring ASCII case.
  EXPECT_EQ(column("select ID from Firm where Code = 'ab' order by ID"), (std::vector<std::string>{"6", "7", "8"}));
  EXPECT_EQ(column("select ID from Firm where Code like 'A%' order by ID"), (std::vector<std::string>{"6", "7", "8"}));
  EXPECT_EQ(db->execute("select distinct Code from Firm where Code like 'a%'").rows, 1u);
  EXPECT_EQ(db->execute("select Code, count(*) from Firm group by Code").rows, 6u);
  // Chinese before Latin, as a Chinese system sorts them.
  EXPECT_EQ(column("select Name from Category order by Name"),
            (std::vector<std::string>{"钢材", "螺纹钢", "全部材料", "Cement", "Steel_Plate"}));
}

// A set of ids selects the rows the same list of literals selects, with
// "in" and "not in", on a Long column and on a Double one (Null, fractions,
// whole numbers held as reals), for no id, one and very many.
TEST_F(Statements, ASetOfIdsSelectsWhatTheListOfItsIdsSelects) {
  std::vector<std::vector<long long>> sets = {{}, {3}, {-2, 0, 1, 3, 6, 6, 1}};
  std::vector<long long> many;
  for (long long id = 5000; id >= -5000; id -= 3) many.push_back(id);  // -2 and 1 among them, not 0 nor 3
  sets.push_back(many);
  for (const char* column : {"Firm.ID", "Firm.Amount"}) {
    for (const auto& ids : sets) {
      std::string list;
      for (long long id : ids) list += (list.empty() ? "" : ",") + std::to_string(id);
      for (const bool member : {true, false}) {
        const std::string condition = ado::idSetCondition(column, ids, member);
        const std::string literal =
            ids.empty() ? std::string(column) + (member ? " is null and 1=0" : " is not null")
                        : std::string(column) + (member ? " in (" : " not in (") + list + ")";
        EXPECT_EQ(this->column("select Name from Firm where " + condition + " order by ID"),
                  this->column("select Name from Firm where " + literal + " order by ID"))
            << column << " " << condition.substr(0, 60);
      }
    }
  }
  EXPECT_EQ(this->column("select ID from Firm where " + ado::idSetCondition("Amount", {-2, 3, 1}, true) +
                         " order by ID"),
            (std::vector<std::string>{"3", "5"}));
  EXPECT_EQ(error("select ID from Firm where jet_id_in(ID, 'A!') = 1").description,
            "Invalid procedure call or argument");
}

TEST(IdSet, CodesReadBackTheirIdsAndNothingElseReads) {
  const std::vector<long long> extremes = {INT64_MAX, 0, -1, INT64_MIN, 1, 128, -129, 1LL << 40, 1};
  const std::string condition = ado::idSetCondition("x", extremes, true);
  const std::size_t open = condition.find('\''), close = condition.rfind('\'');
  ASSERT_LT(open, close);
  const std::string code = condition.substr(open + 1, close - open - 1);
  EXPECT_EQ(code.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"),
            std::string::npos);
  std::vector<long long> ids;
  ASSERT_TRUE(ado::decodeIdSet(code, ids));
  EXPECT_EQ(ids, (std::vector<long long>{INT64_MIN, -129, -1, 0, 1, 128, 1LL << 40, INT64_MAX}));
  EXPECT_TRUE(ado::decodeIdSet("", ids));
  EXPECT_TRUE(ids.empty());
  // Letters outside the alphabet, a length no code has, a number cut short,
  // a repeated id (a distance of 0).
  for (const std::string& bad : {std::string("AB+C"), code.substr(0, 1), std::string("gA"), std::string("AgA")})
    EXPECT_FALSE(ado::decodeIdSet(bad, ids)) << bad;
}

}  // namespace
