// The demo program folder, as the build assembles it: its libraries and pro.mdb
// open with the programs' passwords, and the statements the main window builds
// from the settings rows give the columns it reads.
#include "common/cp936.h"
#include "common/items.h"
#include "platform/database/adodb.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace {

const std::string kFolder = DEMO_FOLDER;
const std::vector<std::string> kLibraries = {"2026年11月信息价.zdj", "2026年12月信息价.zdj"};

std::string connection(const std::string& file, const std::string& password) {
    return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + kFolder + "/" + file +
           ";Persist Security Info=False;Jet OLEDB:Database Password=" + password;
}

std::vector<std::vector<std::string>> query(const ado::Connection& c, const std::string& sql) {
    ado::Recordset rs;
    rs.Open(sql, c, 1, 1, -1);
    std::vector<std::vector<std::string>> rows;
    long n = rs.RecordCount();
    for (long r = 0; r < n; ++r) {
        std::vector<std::string> row;
        for (int i = 0; i < rs.FieldsCount(); ++i) row.push_back(rs.Fields(i).Value().toText());
        rows.push_back(std::move(row));
        rs.MoveNext();
    }
    rs.Close();
    return rows;
}

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

struct Settings {
    std::string onlyid, syid, sortid, inner;
};

// The select list the grid layout builds from the layout rows and the settings.
std::string selectList(const ado::Connection& pro, const std::string& table, const Settings& s, int* columns) {
    auto rows = query(pro, "select DataField from stbgset where tname='" + table +
                               "' and zhlb='系统管理员' and yc=0 Or  tname='" + table +
                               "' and zhlb='-1' and yc=0 order by sortid");
    std::string list;
    for (const auto& r : rows) list += (r[0].find('.') != std::string::npos ? r[0] : table + "." + r[0]) + ",";
    if (!s.sortid.empty()) list += table + "." + s.sortid.substr(0, s.sortid.find(' '));
    if (!s.onlyid.empty()) list += "," + table + "." + s.onlyid;
    *columns = int(rows.size());
    return list;
}

}  // namespace

TEST(DemoFolder, SettingsLayOutTheThreeGridsAsTheMainWindowReadsThem) {
    if (!fs::exists(kFolder + "/pro.mdb")) GTEST_SKIP() << "no demo folder at " << kFolder << " (target demo_folder)";

    ado::Connection pro;
    ASSERT_NO_THROW(pro.Open(connection("pro.mdb", "tqwmzhpbnk3")));
    EXPECT_THROW(ado::Connection().Open(connection("pro.mdb", "4917")), ado::Error);

    std::map<std::string, Settings> settings;
    for (const auto& r : query(pro, "select tname, onlyid, syid, sortid, inner from stxmsy"))
        settings[r[0]] = Settings{r[1], r[2], r[3], r[4]};
    for (const char* t : {"Category", "CLProduct", "Factory"}) {
        ASSERT_TRUE(settings.count(t)) << t;
        EXPECT_FALSE(settings[t].sortid.empty()) << t << " needs an ordering column";
        EXPECT_EQ(settings[t].onlyid, "ID") << t;
    }
    EXPECT_EQ(settings["Category"].syid, "ParentID");
    // The product grid's header has two levels.
    EXPECT_FALSE(query(pro, "select mc from stbgset where tname='CLProduct' and mc like '价格-%'").empty());

    for (const std::string& file : kLibraries) {
        SCOPED_TRACE(file);
        ado::Connection lib;
        ASSERT_NO_THROW(lib.Open(connection(file, "4917")));

        // Category tree: the root row (ID 0), icons on the way down, 3 to 4 levels below it.
        int n = 0;
        std::string list = selectList(pro, "Category", settings["Category"], &n);
        auto top = query(lib, "select  " + list + " from Category where ID=0 order by Category.sortid");
        ASSERT_EQ(top.size(), 1u);
        EXPECT_NE(list.find("ico"), std::string::npos) << "the icon switch needs ico in the statement";
        std::map<std::string, std::string> parent;
        std::set<std::string> icons;
        for (const auto& r : query(lib, "select ID, ParentID, ico from Category")) {
            parent[r[0]] = r[1];
            if (!r[2].empty()) icons.insert(r[2]);
        }
        int depth = 0;
        for (const auto& [id, p] : parent) {
            int d = 0;
            for (std::string c = id; c != "0" && d < 10; c = parent[c]) ++d;
            depth = std::max(depth, d);
        }
        EXPECT_GE(depth, 3);
        EXPECT_LE(depth, 5);
        for (const std::string& icon : icons) EXPECT_TRUE(fs::exists(fs::u8path(kFolder + "/图标/" + icon + ".bmp"))) << icon;

        // Manufacturers and products.
        EXPECT_GE(query(lib, "select ID from Factory").size(), 25u);
        EXPECT_GE(query(lib, "select ID from CLProduct").size(), 300u);

        // Product grid: the statement of a category click; category ID third-last,
        // manufacturer ID second-last, product ID last.
        std::string plist = selectList(pro, "CLProduct", settings["CLProduct"], &n);
        const Settings& ps = settings["CLProduct"];
        auto products = query(lib, "select  " + plist + " from CLProduct" + ps.inner +
                                       " where CLProduct.CategoryID=5 order by CLProduct." + ps.sortid);
        ASSERT_FALSE(products.empty());
        for (const auto& r : products) {
            ASSERT_EQ(r.size(), size_t(n + 2));
            EXPECT_EQ(r[size_t(n - 1)], "5");
            auto f = query(lib, "select Name from Factory where ID=" + r[size_t(n)]);
            ASSERT_EQ(f.size(), 1u);
            EXPECT_NE(std::find(r.begin(), r.end(), f[0][0]), r.end()) << "manufacturer name shown";
        }
        // Search by manufacturer goes through the join.
        EXPECT_FALSE(query(lib, "select  " + plist + " from CLProduct" + ps.inner + " where Factory.Name like '%钢铁%'").empty());

        // Pages: some installed under web/, some only online.
        int local = 0, online = 0;
        for (const auto& r : query(lib, "select HtmlFileName from HtmlRelational")) {
            std::string rel = r[0];
            std::replace(rel.begin(), rel.end(), '\\', '/');
            if (fs::exists(kFolder + rel)) ++local;
            else ++online;
        }
        EXPECT_GE(local, 5);
        EXPECT_GE(online, 10);
    }

    // The two months differ in price.
    ado::Connection nov, dec;
    nov.Open(connection(kLibraries[0], "4917"));
    dec.Open(connection(kLibraries[1], "4917"));
    EXPECT_NE(query(nov, "select PriceTax from CLProduct where ID=1"), query(dec, "select PriceTax from CLProduct where ID=1"));
}

TEST(DemoFolder, TextFilesAreGbkAndAgreeWithEachOther) {
    if (!fs::exists(kFolder + "/MainPro.ini")) GTEST_SKIP() << "no demo folder at " << kFolder;
    auto items = common::readItemFile(kFolder + "/MainPro.ini", 50);
    ASSERT_TRUE(items.has_value());
    std::map<std::string, std::string> keys;
    for (const std::string& item : *items) {
        auto eq = item.find('=');
        if (eq != std::string::npos) keys[item.substr(0, eq)] = item.substr(eq + 1);
    }
    for (const char* k : {"sname", "timer", "dw", "tel", "fwurl", "url"}) EXPECT_FALSE(keys[k].empty()) << k;
    EXPECT_EQ(keys["url"].find("example.com") != std::string::npos, true);
    std::string icon = keys["ico"];
    std::replace(icon.begin(), icon.end(), '\\', '/');
    EXPECT_TRUE(fs::exists(fs::u8path(kFolder + "/" + icon))) << icon;

    // The updater finds the main window by its caption: the same text as sname.
    auto upset = common::readItemFile(kFolder + "/upset.ini", 4);
    ASSERT_TRUE(upset.has_value());
    ASSERT_GE(upset->size(), 3u);
    EXPECT_EQ((*upset)[0], keys["sname"]);
    EXPECT_EQ((*upset)[1], "Velmora");

    for (const auto& entry : fs::recursive_directory_iterator(kFolder + "/web")) {
        if (entry.path().extension() != ".htm") continue;
        std::string bytes = readFile(entry.path());
        EXPECT_NE(bytes.find("charset=gb2312"), std::string::npos) << entry.path();
        std::string text = common::fromCp936(bytes);
        EXPECT_EQ(text.find("\xEF\xBF\xBD"), std::string::npos) << entry.path() << " is not GBK";
        EXPECT_NE(bytes, text) << entry.path() << " holds no Chinese text";
    }
    EXPECT_TRUE(fs::exists(kFolder + "/web/Orvanta.htm"));
    int banners = 0;
    for (const auto& entry : fs::directory_iterator(kFolder + "/swf")) banners += entry.path().extension() == ".swf";
    EXPECT_GE(banners, 1);
}
