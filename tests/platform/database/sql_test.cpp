// Jet's SQL turned into SQLite's, values as the grid shows them, connection strings.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/database/adodb.h"
#include "platform/database/jet_database.h"
#include "platform/database/jet_reader.h"

namespace {

using ado::Variant;

TEST(JetSql, Translation) {
  using ado::translateJetSql;
  EXPECT_EQ(translateJetSql("select * from T where a=True and b=false"),
            "select * from T where a=-1 and b=0");
  // Inside texts, brackets and after a dot nothing changes.
  EXPECT_EQ(translateJetSql("select [True], T.False from T where n='True' and m='it''s true'"),
            "select [True], T.False from T where n='True' and m='it''s true'");
  EXPECT_EQ(translateJetSql("select * from T where n=\"a'b\"\"c\""), "select * from T where n='a''b\"c'");
  // "+" and "&" become calls over their operands, taken by Jet's precedence
  // (arithmetic before "&", "&" before comparisons; left to right).
  EXPECT_EQ(translateJetSql("select a & 'x' & b from T"), "select jet_join(jet_join(a, 'x'), b) from T");
  EXPECT_EQ(translateJetSql("select a + b * 2 - c + d from T"), "select jet_add(jet_add(a, b * 2) - c, d) from T");
  EXPECT_EQ(translateJetSql("select * from T where x = -a + (b + 1) & f(c, d) + 2 and y"),
            "select * from T where x = jet_join(jet_add(-a, (jet_add(b, 1))), jet_add(f(c, d), 2)) and y");
  EXPECT_EQ(translateJetSql("select T.[a b] + 'x' as s from T"), "select jet_add(T.[a b], 'x') as s from T");
  EXPECT_EQ(translateJetSql("select +1, 1e+5 from T where n like '%' + x"),
            "select +1, 1e+5 from T where n like jet_add('%', x)");
  // Left( and Right( are functions, not joins.
  EXPECT_EQ(translateJetSql("select Left(a, 2), RIGHT (a,1) from T left join U on T.x=U.x"),
            "select jet_left(a, 2), jet_right (a,1) from T left join U on T.x=U.x");
  EXPECT_EQ(translateJetSql("select top 5 * from T order by a desc"), "select  * from T order by a desc LIMIT 5");
  EXPECT_EQ(translateJetSql("select * from T where d=#2026-12-01#"), "select * from T where d=46357");
  EXPECT_EQ(translateJetSql("select * from T where d>#12/1/2026 12:00:00#"), "select * from T where d>46357.5");
  // Noon is 12 PM, midnight 12 AM.
  EXPECT_EQ(translateJetSql("select * from T where d>#12/1/2026 12:00:00 PM#"), "select * from T where d>46357.5");
  EXPECT_EQ(translateJetSql("select * from T where d>#12/1/2026 12:30 PM#"),
            "select * from T where d>46357.520833333336");
  EXPECT_EQ(translateJetSql("select * from T where d>#12/1/2026 12:00 AM#"), "select * from T where d>46357");
  EXPECT_EQ(translateJetSql("select * from T where d>#2026-12-01 1:15:00 pm#"),
            "select * from T where d>46357.552083333336");
  // A search with a leading wildcard is marked as keeping few rows, so that the
  // planner scans the table and sorts the matches.
  EXPECT_EQ(translateJetSql("select * from CLProduct where CLProduct.Name like '%钢%' order by ID"),
            "select * from CLProduct where likelihood(CLProduct.Name like '%钢%', 0.05) order by ID");
  EXPECT_EQ(translateJetSql("select * from T where [T].[a b] like \"_x'\" and n=1"),
            "select * from T where likelihood([T].[a b] like '_x''', 0.05) and n=1");
  EXPECT_EQ(translateJetSql("select * from T where (Name like '%it''s%')"),
            "select * from T where (likelihood(Name like '%it''s%', 0.05))");
  // So is one of Jet's functions of a name. The name search's half-width
  // comparison, StrConv(name, 8) like, is one call that compares a name
  // without copying it.
  EXPECT_EQ(translateJetSql("select * from T where StrConv(T.Name, 8) like '%hrb%' order by ID"),
            "select * from T where likelihood(jet_narrow_like(T.Name, '%hrb%'), 0.05) order by ID");
  EXPECT_EQ(translateJetSql("select * from T where strconv([T].[a b], 8 ) like '%it''s%'"),
            "select * from T where likelihood(jet_narrow_like([T].[a b], '%it''s%'), 0.05)");
  EXPECT_EQ(translateJetSql("select * from T where StrConv(T.Name, 9) like '%hrb%'"),
            "select * from T where likelihood(StrConv(T.Name, 9) like '%hrb%', 0.05)");
  EXPECT_EQ(translateJetSql("select * from T where n=1 and LCase([a b]) like '%(x)%'"),
            "select * from T where n=1 and likelihood(LCase([a b]) like '%(x)%', 0.05)");
  // Left alone: a pattern without a leading wildcard, "not like", a pattern
  // joined with more text, an operand that is not a name (nor a function of
  // one), an operand bound to something before it, an open text.
  for (const char* same : {"select * from T where Name like 'steel%'", "select * from T where Name not like '%a%'",
                           "select * from T where Name like '%' || x", "select * from T where 'a' like '%a'",
                           "select * from T where lcase('a') like '%a%'", "select * from T where nosuch(Name) like '%a%'",
                           "select * from T where lcase(Name || x) like '%a%'", "select * from T where x || lcase(Name) like '%a%'",
                           "select * from T where x = Name like '%a%'", "select * from T where Name like '%a"})
    EXPECT_EQ(translateJetSql(same), same);
  EXPECT_EQ(translateJetSql("select 'unterminated"), "select 'unterminated");
}

TEST(JetValues, TextAsTheGridShowsIt) {
  EXPECT_EQ(Variant::null().toText(), "");
  EXPECT_EQ(Variant::boolean(true).toText(), "True");
  EXPECT_EQ(Variant::boolean(false).toText(), "False");
  EXPECT_EQ(Variant::boolean(true).toInt64(), -1);
  EXPECT_EQ(Variant::currency(35000).toText(), "3.5");
  EXPECT_EQ(Variant::currency(120000).toText(), "12");
  EXPECT_EQ(Variant::currency(-5).toText(), "-0.0005");
  EXPECT_EQ(Variant::currency(INT64_MIN).toText(), "-922337203685477.5808");
  // Inner zeros of the fraction stay, trailing ones go.
  for (const auto& [units, text] : std::vector<std::pair<int64_t, std::string>>{
           {0, "0"}, {10, "0.001"}, {1000, "0.1"}, {10001, "1.0001"}, {10100, "1.01"}, {12340, "1.234"},
           {-120000, "-12"}, {-99990, "-9.999"}, {INT64_MAX, "922337203685477.5807"}})
    EXPECT_EQ(Variant::currency(units).toText(), text) << units;
  EXPECT_EQ(Variant::currency(35000).toDouble(), 3.5);
  // Whole units, half to even, exact at the ends of the range.
  EXPECT_EQ(Variant::currency(INT64_MAX).toInt64(), 922337203685478);
  EXPECT_EQ(Variant::currency(INT64_MIN).toInt64(), -922337203685478);
  EXPECT_EQ(Variant::currency(9223372036854765000).toInt64(), 922337203685476);
  EXPECT_EQ(Variant::currency(9223372036854775000).toInt64(), 922337203685478);
  EXPECT_EQ(Variant::currency(25000).toInt64(), 2);
  EXPECT_EQ(Variant::currency(35000).toInt64(), 4);
  EXPECT_EQ(Variant::currency(-25000).toInt64(), -2);
  EXPECT_EQ(Variant::currency(-25001).toInt64(), -3);
  EXPECT_EQ(Variant::currency(INT64_MAX).toText(), "922337203685477.5807");
  EXPECT_EQ(Variant::dbl(444.555).toText(), "444.555");
  EXPECT_EQ(Variant::dbl(0.1 + 0.2).toText(), "0.3");
  EXPECT_EQ(Variant::dbl(1e20).toText(), "1E+20");
  EXPECT_EQ(Variant::dbl(1.5e-7).toText(), "1.5E-7");
  EXPECT_EQ(Variant::dbl(-0.0).toText(), "0");
  EXPECT_EQ(Variant::single(0.1f).toText(), "0.1");
  EXPECT_EQ(Variant::longInt(-2147483647 - 1).toText(), "-2147483648");
  EXPECT_EQ(Variant::byte(255).toText(), "255");
  EXPECT_EQ(Variant::date(0).toText(), "1899-12-30");
  EXPECT_EQ(Variant::date(27293).toText(), "1974-09-21");
  EXPECT_EQ(Variant::date(46357.5).toText(), "2026-12-01 12:00:00");
  EXPECT_EQ(Variant::date(-1.25).toText(), "1899-12-29 06:00:00");
  EXPECT_EQ(Variant::date(36525.99999999).toText(), "2000-01-01");  // rounds to the next day
  EXPECT_EQ(ado::oleDateToIso(27293), "1974-09-21T00:00:00.000Z");
  EXPECT_EQ(Variant::text("12").toInt64(), 12);
  EXPECT_EQ(Variant::dbl(2.5).toInt64(), 2);  // half to even, as CLng
  EXPECT_EQ(Variant::dbl(3.5).toInt64(), 4);
  EXPECT_THROW(Variant::text("abc").toInt64(), ado::Error);
  EXPECT_THROW(Variant::null().toDouble(), ado::Error);
}

TEST(JetConnectionString, Parts) {
  auto cs = ado::parseConnectionString(
      "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=C:\\Program Files\\Velmora\\材料 库.zdj;"
      "Persist Security Info=False;Jet OLEDB:Database Password=4917");
  EXPECT_EQ(cs.provider, "Microsoft.Jet.OLEDB.4.0");
  EXPECT_EQ(cs.dataSource, "C:\\Program Files\\Velmora\\材料 库.zdj");
  EXPECT_EQ(cs.databasePassword, "4917");
  cs = ado::parseConnectionString("data source = 'a;b.mdb' ; jet oledb:database password=\"p;w\"");
  EXPECT_EQ(cs.dataSource, "a;b.mdb");
  EXPECT_EQ(cs.databasePassword, "p;w");
  cs = ado::parseConnectionString("Data Source=x.mdb;Jet OLEDB:Database Password=");
  EXPECT_EQ(cs.databasePassword, "");
  // Values are quoted only where they would not read back as they are.
  EXPECT_EQ(ado::connectionValue("C:\\材料 库\\a.zdj"), "C:\\材料 库\\a.zdj");
  EXPECT_EQ(ado::connectionValue("a;b.zdj"), "\"a;b.zdj\"");
  EXPECT_EQ(ado::connectionValue(" x"), "\" x\"");
  EXPECT_EQ(ado::connectionValue("say \"hi\";x"), "'say \"hi\";x'");
  EXPECT_EQ(ado::connectionValue("'a\";b"), "\"'a\"\";b\"");
  for (const std::string v : {"a;b", "'a\";b", "say \"hi\";x", " x ", "\"q", "p;w"}) {
    cs = ado::parseConnectionString("Data Source=" + ado::connectionValue(v) +
                                    ";Jet OLEDB:Database Password=" + ado::connectionValue(v));
    EXPECT_EQ(cs.dataSource, v);
    EXPECT_EQ(cs.databasePassword, v);
  }
}

}  // namespace

namespace {

TEST(JetText, Jet3TextInTheFilesCodePage) {
  using ado::jet::codePageToUtf8;
  // Old (Jet 3) libraries hold their text in the code page they were made with.
  EXPECT_EQ(codePageToUtf8("\xB8\xD6\xB2\xC4", 4, 936), "钢材");
  EXPECT_EQ(codePageToUtf8("caf\xE9", 4, 1252), "café");
  EXPECT_EQ(codePageToUtf8("plain", 5, 936), "plain");
  // A byte the code page has no character for does not cut the text short.
  EXPECT_EQ(codePageToUtf8("a\xFF" "b", 3, 936), "a\xEF\xBF\xBD" "b");
}

}  // namespace
