// The Jet writer is checked by reading what it wrote through three readers that
// share no code with it: mdbtools, the npm package mdb-reader, and the
// project's own database provider.
#include "jetwrite/jetwriter.h"
#include "readers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;
using jetwrite::Column;
using jetwrite::ColumnType;
using jetwrite::Database;
using jetwrite::Table;
using jetwrite::Value;

namespace {

class TempDir {
public:
    TempDir() {
        path_ = fs::temp_directory_path() / ("jetwriter-test-" + std::to_string(::getpid()) + "-" +
                                             std::to_string(counter_++));
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempDir() { fs::remove_all(path_); }
    std::string file(const std::string& name) const { return (path_ / fs::u8path(name)).string(); }

private:
    static inline int counter_ = 0;
    fs::path path_;
};

void writeText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Page 1, row 0: the global map of the pages in use. A Jet engine that adds to the
// file allocates pages by it, so every page written must be marked.
bool globalMapCoversEveryPage(const std::string& path) {
    std::string f = readText(path);
    const size_t pageSize = 4096, pages = f.size() / pageSize;
    auto u16 = [&](size_t at) { return size_t(uint8_t(f[at])) | size_t(uint8_t(f[at + 1])) << 8; };
    auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
    size_t rowStart = pageSize + u16(pageSize + 14), rowEnd = 2 * pageSize;
    std::vector<bool> used(pages, false);
    if (f[rowStart] == 0) {
        size_t first = u32(rowStart + 1);
        for (size_t b = 0; b < (rowEnd - rowStart - 5) * 8; ++b)
            if (uint8_t(f[rowStart + 5 + b / 8]) & (1u << (b % 8)) && first + b < pages) used[first + b] = true;
    } else {
        for (size_t k = 0; rowStart + 1 + 4 * k + 4 <= rowEnd; ++k) {
            size_t m = u32(rowStart + 1 + 4 * k);
            if (!m) continue;
            for (size_t b = 0; b < (pageSize - 4) * 8; ++b) {
                size_t page = k * (pageSize - 4) * 8 + b;
                if (page < pages && uint8_t(f[m * pageSize + 4 + b / 8]) & (1u << (b % 8))) used[page] = true;
            }
        }
    }
    return std::find(used.begin(), used.end(), false) == used.end();
}

// Writes the database and reads it back through every reader available.
// `notForProjectReader`: tables the project's reader is known to misread (listed
// where they are used, with the reason).
void expectAllReadersAgree(const Database& db, const std::string& path,
                           const std::vector<std::string>& notForProjectReader = {}) {
    ASSERT_NO_THROW(jetwrite::writeDatabase(db, path));
    ASSERT_EQ(fs::file_size(path) % 4096, 0u);
    EXPECT_TRUE(globalMapCoversEveryPage(path));

    readers::Dump tools = readers::viaMdbTools(path);
    EXPECT_EQ(readers::compare(db, tools, "mdb-export", true), "");

    std::string schema = readers::mdbSchema(path);
    for (const Table& t : db.tables) EXPECT_NE(schema.find("CREATE TABLE [" + t.name + "]"), std::string::npos) << schema;

    if (!readers::independentReaderModules().empty()) {
        readers::Dump independent = readers::viaMdbReader(path);
        EXPECT_EQ(readers::compare(db, independent, "mdb-reader", false), "");
        if (db.password.empty()) EXPECT_FALSE(independent.password.has_value());
        else EXPECT_EQ(independent.password.value_or("(none)"), db.password);
    } else {
        // The JetWriter tests skip themselves then; the others still check the rest.
        ::testing::Test::RecordProperty("independent_reader", "not installed");
    }

    if (readers::haveProjectReader()) {
        Database checked = db;
        std::erase_if(checked.tables, [&](const Table& t) {
            return std::find(notForProjectReader.begin(), notForProjectReader.end(), t.name) != notForProjectReader.end();
        });
        std::vector<std::string> names;
        for (const Table& t : checked.tables) names.push_back(t.name);
        readers::Dump own = readers::viaProjectReader(path, checked.password, names);
        EXPECT_EQ(readers::compare(checked, own, "project reader", false), "");
        if (readers::haveVelmoraCli()) {
            readers::Dump cli = readers::viaVelmoraCli(path, checked.password);
            std::erase_if(cli.tableNames, [&](const std::string& n) {
                return std::find(names.begin(), names.end(), n) == names.end();
            });
            EXPECT_EQ(readers::compare(checked, cli, "velmora-cli dump", false), "");
        }
    }
}

std::string repeat(const std::string& piece, size_t bytes) {
    std::string s;
    while (s.size() < bytes) s += piece;
    return s;
}

}  // namespace

class JetWriter : public ::testing::Test {
protected:
    void SetUp() override {
        if (readers::independentReaderModules().empty())
            GTEST_SKIP() << "the independent reader mdb-reader is not installed under " INDEPENDENT_READER_MODULES
                            "; run scripts/test.sh, which installs it with npm ci";
    }
};

TEST_F(JetWriter, EveryTypeNullsChineseAndPasswordReadBackAlike) {
    TempDir dir;
    Database db;
    db.password = "tqwmzhpbnk3";
    Table t{"材料价格",
            {{"ID", ColumnType::Long},
             {"名称", ColumnType::Text, 20},
             {"说明", ColumnType::Memo},
             {"B", ColumnType::Byte},
             {"I", ColumnType::Integer},
             {"S", ColumnType::Single},
             {"D", ColumnType::Double},
             {"Price", ColumnType::Currency},
             {"Updated", ColumnType::DateTime},
             {"Active", ColumnType::YesNo}},
            {}};
    t.rows.push_back({"1", "螺纹钢 HRB400E Φ12", "含税到场价，不含吊装费。", "255", "-32768", "1.5",
                      "3.141592653589793", "4125.5000", "2026-12-01 08:30:00", "true"});
    t.rows.push_back({"-2147483648", Value{}, Value{}, Value{}, Value{}, Value{}, Value{}, Value{}, Value{}, Value{}});
    t.rows.push_back({"2147483647", "", "", "0", "32767", "-0.25", "-1e300", "-0.0001", "1900-01-01", "false"});
    t.rows.push_back({Value{}, "二十个字符二十个字符二十个字符二十个字符", "line one\r\nline \"two\", three",
                      Value{}, "7", Value{}, "0.1", "123456789.0123", "2099-12-31 23:59:59", Value{}});
    t.rows.push_back({"5", "ASCII, with comma", "ÄÖÜ äöü ß", "12", Value{}, "3.25e10", Value{}, "-98765.4321",
                      "1999-02-28 12:00", "1"});
    db.tables.push_back(t);
    db.tables.push_back(Table{"Empty", {{"ID", ColumnType::Long}, {"Name", ColumnType::Text, 50}}, {}});
    // Currency at the ends of its range, which every reader must keep to the digit.
    db.tables.push_back(Table{"Extremes",
                              {{"C", ColumnType::Currency}},
                              {{"922337203685477.5807"}, {"-922337203685477.5808"}, {"92233720368547.5807"}}});
    db.tables.push_back(Table{"OnlyVariable",
                              {{"A", ColumnType::Text, 10}, {"B", ColumnType::Memo}},
                              {{"x", "y"}, {Value{}, Value{}}, {"", ""}}});
    db.tables.push_back(Table{"OnlyFixed", {{"A", ColumnType::Long}, {"B", ColumnType::YesNo}}, {{"1", "true"}, {"2", "false"}}});
    expectAllReadersAgree(db, dir.file("types.mdb"));

    std::string schema = readers::mdbSchema(dir.file("types.mdb"));
    EXPECT_NE(schema.find("[名称]\t\t\tText (20)"), std::string::npos) << schema;
    EXPECT_NE(schema.find("Currency"), std::string::npos);
    EXPECT_NE(schema.find("DateTime"), std::string::npos);

    // No password: mdb-reader reports none (the header holds the bare mask, as Jet writes it).
    db.password = "";
    expectAllReadersAgree(db, dir.file("plain.mdb"));
    // The longest password Jet takes, with non-ASCII characters.
    db.password = "密码1234567890abcdefgh";
    expectAllReadersAgree(db, dir.file("long-password.mdb"));
}

TEST_F(JetWriter, TablesAcrossManyPagesWithLongMemosReadBackAlike) {
    TempDir dir;
    Database db;
    db.password = "4917";
    Table products{"CLProduct",
                   {{"ID", ColumnType::Long},
                    {"Name", ColumnType::Text, 100},
                    {"Model", ColumnType::Text, 100},
                    {"Price", ColumnType::Currency},
                    {"Remark", ColumnType::Memo},
                    {"sortid", ColumnType::Long}},
                   {}};
    for (int i = 1; i <= 6000; ++i) {
        Value remark;
        if (i % 500 == 0) remark = repeat("长备注" + std::to_string(i) + "。", 100 * 1024);   // UCS-2, many pages
        else if (i % 250 == 0) remark = repeat("long ASCII memo " + std::to_string(i) + ". ", 100 * 1024);  // compressed
        else if (i % 97 == 0) remark = repeat("中", 1500);   // one long-value row (3000 bytes)
        else if (i % 13 == 0) remark = "短备注 " + std::to_string(i);
        products.rows.push_back({std::to_string(i), "普通硅酸盐水泥 P.O42.5 第" + std::to_string(i) + "号",
                                 i % 7 == 0 ? Value{} : Value("袋装 50kg"), std::to_string(i) + "." + std::to_string(i % 10000),
                                 remark, std::to_string(6001 - i)});
    }
    db.tables.push_back(products);

    // Many columns: the table definition spans more than one page.
    Table wide{"Wide", {}, {}};
    for (int c = 0; c < 200; ++c)
        wide.columns.push_back({"a_rather_long_column_name_" + std::to_string(c), c % 2 ? ColumnType::Long : ColumnType::Text, 8});
    for (int r = 0; r < 20; ++r) {
        std::vector<Value> row;
        for (int c = 0; c < 200; ++c) row.push_back((r + c) % 5 == 0 ? Value{} : Value(std::to_string(r * 1000 + c)));
        wide.rows.push_back(row);
    }
    db.tables.push_back(wide);

    // Rows that nearly fill a page each.
    Table big{"BigRows", {{"ID", ColumnType::Long}}, {}};
    for (int c = 0; c < 7; ++c) big.columns.push_back({"T" + std::to_string(c), ColumnType::Text, 255});
    for (int r = 0; r < 40; ++r) {
        std::vector<Value> row{std::to_string(r)};
        for (int c = 0; c < 7; ++c) row.push_back(repeat("钢", 255 * 3));  // 255 characters each
        big.rows.push_back(row);
    }
    db.tables.push_back(big);

    expectAllReadersAgree(db, dir.file("large.zdj"));
    EXPECT_GT(fs::file_size(dir.file("large.zdj")), 2u * 1024 * 1024);  // beyond one inline usage map
}

TEST(JetWriterInput, BadValuesThrowAndLeaveNoFile) {
    TempDir dir;
    std::string path = dir.file("out.mdb");
    bool fileBefore = false;
    auto fails = [&](const Table& t, const std::string& expected) {
        Database db;
        db.tables.push_back(t);
        try {
            jetwrite::writeDatabase(db, path);
            ADD_FAILURE() << "no error for " << expected;
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(expected), std::string::npos) << e.what();
        }
        EXPECT_EQ(fs::exists(path), fileBefore) << expected;
    };
    Table t{"T", {{"N", ColumnType::Text, 3}, {"L", ColumnType::Long}}, {}};
    t.rows = {{"abc", "1"}, {"abcd", "2"}};
    fails(t, "row 2: column N: text of 4 characters is longer than column N (3)");
    t.rows = {{"中文字", "1"}, {"x", "2147483648"}};
    fails(t, "row 2: column L: Long value 2147483648 out of range");
    t.rows = {{"x", "12a"}};
    fails(t, "bad Long value \"12a\"");
    t.rows = {{"x", "1", "extra"}};
    fails(t, "row has 3 values, the table has 2 columns");
    fails(Table{"T", {{"C", ColumnType::Currency}}, {{"1.23456"}}}, "more than four decimal places");
    fails(Table{"T", {{"D", ColumnType::DateTime}}, {{"2026-02-30"}}}, "bad Date/Time value");
    fails(Table{"T", {{"B", ColumnType::YesNo}}, {{"maybe"}}}, "bad Yes/No value");
    fails(Table{"T", {{"B", ColumnType::Byte}}, {{"256"}}}, "Byte value 256 out of range");
    fails(Table{"T", {{"S", ColumnType::Single}}, {{"1e39"}}}, "Single value 1e39 out of range");
    fails(Table{"T", {{"M", ColumnType::Memo}}, {{std::string("\xff\xfe", 2)}}}, "invalid UTF-8");
    fails(Table{"MSysThing", {{"A", ColumnType::Long}}, {}}, "reserved");
    fails(Table{"T", {{"A", ColumnType::Long}, {"a", ColumnType::Long}}, {}}, "described twice");
    fails(Table{"T", {}, {}}, "has no columns");
    Table wideRow{"T", {}, {}};
    std::vector<Value> longRow;
    for (int c = 0; c < 9; ++c) {
        wideRow.columns.push_back({"T" + std::to_string(c), ColumnType::Text, 255});
        longRow.push_back(repeat("钢", 255 * 3));  // 255 characters
    }
    wideRow.rows.push_back(longRow);
    fails(wideRow, "more than a page can hold");
    Database longPassword;
    longPassword.password = std::string(21, 'x');
    longPassword.tables.push_back(Table{"T", {{"A", ColumnType::Long}}, {}});
    EXPECT_THROW(jetwrite::writeDatabase(longPassword, path), std::runtime_error);
    EXPECT_FALSE(fs::exists(path));

    // A failed write leaves the file that was there before untouched.
    writeText(path, "previous");
    fileBefore = true;
    t.rows = {{"x", "12a"}};
    fails(t, "bad Long value");
    EXPECT_EQ(readText(path), "previous");
}

TEST(JetWriterInput, DescriptionsWithInlineRowsAndCsvFiles) {
    TempDir dir;
    writeText(dir.file("rows.csv"),
              "\xEF\xBB\xBFID,Name,Price,Note\r\n"
              "1,钢材,12.5,\"multi\r\nline, with \"\"quotes\"\"\"\r\n"
              "2,,,\"\"\r\n"
              "\r\n"
              "3,水泥,-3,plain\r\n");
    writeText(dir.file("lib.jetdesc"),
              "# demo description\n"
              "password 4917\n"
              "\n"
              "table Product\n"
              "column ID Long\n"
              "column Name Text 20\n"
              "column Price Currency\n"
              "column Note Memo\n"
              "rows rows.csv\n"
              "row 4,\"木材, 松木\",0.0001,\n"
              "table Flags\n"
              "column On Yes/No\n"
              "column When DateTime\n"
              "row true,2026-12-01 08:30\n");
    Database db = jetwrite::readDescriptionFile(dir.file("lib.jetdesc"));
    EXPECT_EQ(db.password, "4917");
    ASSERT_EQ(db.tables.size(), 2u);
    const Table& p = db.tables[0];
    ASSERT_EQ(p.rows.size(), 4u);
    EXPECT_EQ(p.rows[0][3], Value("multi\r\nline, with \"quotes\""));
    EXPECT_EQ(p.rows[1][1], Value{});       // empty unquoted field: Null
    EXPECT_EQ(p.rows[1][3], Value(""));     // "" : empty text
    EXPECT_EQ(p.rows[3][1], Value("木材, 松木"));
    EXPECT_EQ(db.tables[1].columns[0].type, ColumnType::YesNo);
    expectAllReadersAgree(db, dir.file("lib.zdj"));
}

TEST(JetWriterInput, ToolStopsAtTheFaultyLineAndWritesNothing) {
    TempDir dir;
    std::string out = dir.file("out.zdj");
    auto tool = [&](const std::string& desc, int* status) {
        writeText(dir.file("d.jetdesc"), desc);
        return readers::run(readers::shellQuote(JETWRITE_TOOL) + " " + readers::shellQuote(dir.file("d.jetdesc")) +
                                " " + readers::shellQuote(out) + " 2>&1",
                            status);
    };
    struct Case {
        std::string desc;
        std::string expected;
    };
    const std::string head = "table T\ncolumn ID Long\ncolumn Name Text 4\n";
    std::vector<Case> cases = {
        {"table T\ncolumn ID Long\ncolumn Price Money\n", "d.jetdesc:3: unknown type \"Money\""},
        {head + "row 1,abcd\nrow 2,abcde\n", "d.jetdesc:5: column Name: text of 5 characters is longer than column Name (4)"},
        {head + "row 1,ab\n\nrow 2,ab,extra\n", "d.jetdesc:6: row has 3 values, table T has 2 columns"},
        {head + "row 1\n", "d.jetdesc:4: row has 1 values, table T has 2 columns"},
        {head + "row 1.5,ab\n", "d.jetdesc:4: column ID: bad Long value \"1.5\""},
        {head + "row x1,ab\n", "d.jetdesc:4: column ID: bad Long value \"x1\""},
        {"column ID Long\n", "d.jetdesc:1: column before any table"},
        {"table T\ncolumn Name Text 300\n", "d.jetdesc:2: Text length must be a number from 1 to 255"},
        {"table T\ncolumn ID Long 4\n", "d.jetdesc:2: only Text columns take a length"},
        {head + "frobnicate\n", "d.jetdesc:4: unknown keyword \"frobnicate\""},
        {head + "rows missing.csv\n", "d.jetdesc:4: cannot read CSV file"},
        {head + "row 1,\"ab\n", "d.jetdesc:4: unterminated quoted field"},
    };
    for (const Case& c : cases) {
        int status = 0;
        std::string message = tool(c.desc, &status);
        EXPECT_EQ(status, 1) << c.desc;
        EXPECT_NE(message.find(c.expected), std::string::npos) << "expected: " << c.expected << "\ngot: " << message;
        EXPECT_FALSE(fs::exists(out)) << c.desc;
    }

    // Faults in a CSV file are reported with the CSV file's own line.
    writeText(dir.file("bad.csv"), "ID,Name\n1,ab\n2,ab\n3,toolong\n");
    int status = 0;
    std::string message = tool(head + "rows bad.csv\n", &status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(message.find("bad.csv:4: column Name: text of 7 characters"), std::string::npos) << message;
    writeText(dir.file("bad.csv"), "ID,Title\n1,ab\n");
    message = tool(head + "rows bad.csv\n", &status);
    EXPECT_NE(message.find("bad.csv:1: header column 2 is \"Title\", expected \"Name\""), std::string::npos) << message;
    EXPECT_FALSE(fs::exists(out));

    // And a good description does write the file.
    message = tool(head + "row 1,ab\n", &status);
    EXPECT_EQ(status, 0) << message;
    EXPECT_TRUE(fs::exists(out));
}

// The Jet files of the demo program folder hold what their descriptions say, as
// every reader sees them.
TEST_F(JetWriter, DemoFolderFilesReadBackAsDescribed) {
    const std::string folder = DEMO_FOLDER, sources = DEMO_SOURCES;
    if (!fs::exists(folder + "/pro.mdb")) GTEST_SKIP() << "no demo folder at " << folder << " (target demo_folder)";
    const std::vector<std::pair<std::string, std::string>> files = {
        {"library-2026-11.jetdesc", "2026年11月信息价.zdj"},
        {"library-2026-12.jetdesc", "2026年12月信息价.zdj"},
        {"pro.jetdesc", "pro.mdb"}};
    for (const auto& [desc, file] : files) {
        SCOPED_TRACE(file);
        Database db = jetwrite::readDescriptionFile(sources + "/" + desc);
        std::string path = (fs::path(folder) / fs::u8path(file)).string();
        EXPECT_EQ(readers::compare(db, readers::viaMdbTools(path), "mdb-export", true), "");
        readers::Dump independent = readers::viaMdbReader(path);
        EXPECT_EQ(readers::compare(db, independent, "mdb-reader", false), "");
        EXPECT_EQ(independent.password.value_or(""), db.password);
        if (readers::haveVelmoraCli()) {
            EXPECT_EQ(readers::compare(db, readers::viaVelmoraCli(path, db.password), "velmora-cli dump", false), "");
        }
    }
}
