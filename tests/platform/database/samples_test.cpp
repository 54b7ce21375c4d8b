// Real Access-made files: what the provider reads must equal what an independent
// reader found in them.
#include <gtest/gtest.h>

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "platform/database/adodb.h"
#include "platform/database/jet_dump.h"
#include "platform/database/jet_reader.h"

namespace {

const std::string kSamples = JET_SAMPLES_DIR;

QJsonObject readJson(const QByteArray& bytes) {
  QJsonParseError err{};
  QJsonDocument d = QJsonDocument::fromJson(bytes, &err);
  EXPECT_EQ(err.error, QJsonParseError::NoError) << err.errorString().toStdString();
  return d.object();
}

void skipWithoutSamples() {
  if (!std::filesystem::is_directory(kSamples)) GTEST_SKIP() << "no sample folder " << kSamples;
}

TEST(JetSamples, DumpMatchesTheIndependentReader) {
  skipWithoutSamples();
  int seen = 0;
  for (const auto& entry : std::filesystem::directory_iterator(kSamples)) {
    if (entry.path().extension() != ".mdb") continue;
    std::string base = entry.path().stem().string();
    QFile f(QString::fromStdString(kSamples + "/" + base + ".expected.json"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << base;
    QJsonObject expected = readJson(f.readAll());
    std::string password = expected.value("password").toString().toStdString();
    expected.remove("password");
    for (auto mode : {ado::ReadMode::Isolated, ado::ReadMode::InProcess}) {
      auto db = ado::Database::open(entry.path().string(), password, mode);
      std::string out;
      ASSERT_TRUE(ado::dumpJson(*db, "", out));
      QJsonObject got = readJson(QByteArray::fromStdString(out));
      EXPECT_EQ(got, expected) << base << "\n" << out.substr(0, 2000);
    }
    ++seen;
  }
  EXPECT_EQ(seen, 5);
}

TEST(JetSamples, DatabasePasswordIsChecked) {
  skipWithoutSamples();
  const std::string locked = kSamples + "/access2000-password.mdb";
  const std::string plain = kSamples + "/access2000-plain.mdb";
  auto conn = [](const std::string& path, const std::string& pw) {
    return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + path +
           ";Persist Security Info=False;Jet OLEDB:Database Password=" + pw;
  };
  ado::Connection c;
  c.Open(conn(locked, "password"));
  EXPECT_EQ(c.State(), 1);
  c.Close();
  EXPECT_EQ(c.State(), 0);

  // As in any OLE DB connection string, blanks around an unquoted value do not count.
  c.Open(conn(locked, " password "));
  c.Close();
  EXPECT_THROW(ado::Database::open(locked, "password "), ado::Error);
  for (std::string wrong : {"Password", "passwor", "'password '", "", "4917"}) {
    try {
      c.Open(conn(locked, wrong));
      ADD_FAILURE() << "opened with '" << wrong << "'";
      c.Close();
    } catch (const ado::Error& e) {
      EXPECT_EQ(e.number, -2147217843);
      EXPECT_EQ(e.description, "Not a valid password.");
      EXPECT_EQ(c.State(), 0);
    }
  }
  // A file without a password opens whatever password is named, as with Jet.
  c.Open(conn(plain, "tqwmzhpbnk3"));
  EXPECT_EQ(c.State(), 1);
}

TEST(JetSamples, RecordsetOverASample) {
  skipWithoutSamples();
  ado::Connection c;
  c.Open("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + kSamples +
         "/access97-types.mdb;Jet OLEDB:Database Password=");
  ado::Recordset rs;
  rs.Open("select Table1.A, H, I, G from Table1 where a='ABCDEFG' Or  a='a' order by a desc", c, 1, 1, -1);
  ASSERT_EQ(rs.RecordCount(), 2);
  ASSERT_EQ(rs.FieldsCount(), 4);
  EXPECT_EQ(rs.Fields(0).Name(), "A");
  EXPECT_EQ(rs.Fields("table1.a").Value().toText(), "abcdefg");
  EXPECT_EQ(rs.Fields("H").Value().type(), ado::Variant::Type::Currency);
  EXPECT_EQ(rs.Fields("H").Value().currencyUnits(), 35000);
  EXPECT_EQ(rs.Fields("H").Value().toText(), "3.5");
  EXPECT_EQ(rs.Fields("I").Value().toInt64(), -1);
  EXPECT_EQ(rs.Fields("I").Value().toText(), "True");
  EXPECT_EQ(rs.Fields("G").Value().toText(), "1974-09-21");
  rs.MoveNext();
  EXPECT_EQ(rs.Fields(0).Value().toText(), "a");
  EXPECT_EQ(rs.Fields("I").Value().toText(), "False");
  rs.MoveNext();
  EXPECT_TRUE(rs.IsEOF());
  rs.Close();
}

}  // namespace

namespace {

// Files Access made keep indexes of their own (primary keys); the reader
// hands them on, in both ways of reading, and the copy indexes those columns.
struct IndexSink : ado::jet::Sink {
  std::map<std::string, std::vector<std::vector<int>>> indexes;
  std::map<std::string, std::vector<std::string>> columns;
  void beginTable(const ado::jet::TableDef& t) override {
    for (const auto& ix : t.indexes) indexes[t.info.name].push_back(ix.columns);
    for (const auto& c : t.info.columns) columns[t.info.name].push_back(c.name);
  }
  void row(const std::vector<ado::jet::Cell>&) override {}
  void endTable() override {}
};

TEST(JetSamples, OwnIndexesAndGuids) {
  skipWithoutSamples();
  const std::string path = kSamples + "/access2000-types.mdb";
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), {});
  const auto h = ado::jet::inspectHeader(reinterpret_cast<const uint8_t*>(bytes.data()), 4096, bytes.size(), path);
  IndexSink direct, isolated;
  ado::jet::readTables(h, path, nullptr, 0, path, direct);
  ado::jet::readTablesIsolated(h, path, path, isolated);
  EXPECT_EQ(direct.indexes, isolated.indexes);
  // Table1 (A to I) has indexes on B and on A; Table4 one on its GUID column.
  EXPECT_EQ(direct.indexes["Table1"], (std::vector<std::vector<int>>{{1}, {0}}));
  EXPECT_EQ(direct.indexes["Table4"], (std::vector<std::vector<int>>{{1}}));
  EXPECT_EQ(direct.indexes["Table2"].size(), 5u);

  // The copy has them from the start, before any statement asked for one.
  auto db = ado::Database::open(path, "");
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db->sqlite(), "select sql from sqlite_master where type='index'", -1, &st, nullptr),
            SQLITE_OK);
  std::string indexes;
  while (sqlite3_step(st) == SQLITE_ROW) indexes += reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
  sqlite3_finalize(st);
  EXPECT_NE(indexes.find("ON \"Table1\" (\"A\")"), std::string::npos) << indexes;
  EXPECT_NE(indexes.find("ON \"Table1\" (\"B\")"), std::string::npos) << indexes;
  EXPECT_NE(indexes.find("ON \"Table4\" (\"data\")"), std::string::npos) << indexes;

  // The GUID column keeps its type (the samples hold no GUID values).
  for (const auto& t : db->tables())
    if (t.name == "Table4") EXPECT_EQ(t.columns.at(1).type, ado::JetType::Guid);
}

}  // namespace
