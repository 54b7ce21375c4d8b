// Pinyin initials of material names, and the search field 拼音简码 run on a
// library as the toolbar's search runs.
#include <gtest/gtest.h>

#include "../../data/program_folder.h"
#include "data/browse.h"
#include "data/connections.h"
#include "data/fill.h"
#include "data/navigation.h"
#include "price_tools/pinyin/pinyin_search.h"

using namespace price_tools::pinyin;

TEST(PinyinInitials, RealMaterialNames) {
  InitialsCoder coder;
  const std::pair<const char*, const char*> names[] = {
      {"螺纹钢", "lwg"},
      {"商品混凝土", "sphnt"},
      {"热轧带肋钢筋", "rzdlgj"},
      {"热轧光圆钢筋", "rzgygj"},
      {"冷轧带肋钢筋", "lzdlgj"},
      {"普通硅酸盐水泥", "ptgsysn"},
      {"复合硅酸盐水泥", "fhgsysn"},
      {"矿渣硅酸盐水泥", "kzgsysn"},
      {"白水泥", "bsn"},
      {"镀锌钢管", "dxgg"},
      {"焊接钢管", "hjgg"},
      {"无缝钢管", "wfgg"},
      {"螺旋钢管", "lxgg"},
      {"不锈钢板", "bxgb"},
      {"花纹钢板", "hwgb"},
      {"彩涂钢板", "ctgb"},
      {"镀锌角钢", "dxjg"},
      {"热轧槽钢", "rzcg"},
      {"工字钢", "gzg"},
      {"H型钢", "hxg"},
      {"高速线材", "gsxc"},
      {"预拌砂浆", "ybsj"},
      {"干混砌筑砂浆", "ghqzsj"},
      {"中砂", "zs"},
      {"碎石", "ss"},
      {"卵石", "ls"},
      {"蒸压加气混凝土砌块", "zyjqhntqk"},
      {"烧结多孔砖", "sjdkz"},
      {"灰砂砖", "hsz"},
      {"防水卷材", "fsjc"},
      {"SBS改性沥青防水卷材", "sbsgxlqfsjc"},
      {"聚氨酯防水涂料", "jazfstl"},
      {"PVC排水管", "pvcpsg"},
      {"PPR给水管", "pprjsg"},
      {"HDPE双壁波纹管", "hdpesbbwg"},
      {"球墨铸铁管", "qmztg"},
      {"铸铁井盖", "ztjg"},
      {"铜芯电力电缆", "txdldl"},
      {"铝合金门窗", "lhjmc"},
      {"中空玻璃", "zkbl"},
      {"钢化玻璃", "ghbl"},
      {"石膏板", "sgb"},
      {"轻钢龙骨", "qglg"},
      {"岩棉板", "ymb"},
      {"挤塑聚苯板", "jsjbb"},
      {"乳胶漆", "rjq"},
      {"外墙涂料", "wqtl"},
      {"陶瓷地砖", "tcdz"},
      {"大理石", "dls"},
      {"花岗岩", "hgy"},
      {"细木工板", "xmgb"},
      {"胶合板", "jhb"},
      {"松木方", "smf"},
      {"闸阀", "zf"},
      {"蝶阀", "df"},
      {"止回阀", "zhf"},
      {"长螺旋钻孔灌注桩", "clxzkgzz"},
      {"重型脚手架", "zxjsj"},
      {"管卡", "gk"},
      {"弹簧垫圈", "thdq"},
      {"混凝土C30", "hntc30"},
      {"ＰＶＣ线管 Φ20", "pvcxg20"},
      {"砼", "t"},
  };
  for (const auto& [name, expected] : names) EXPECT_EQ(coder.initials(name), expected) << name;
  EXPECT_GE(std::size(names), 50u);
}

TEST(PinyinInitials, TypedLettersMatchAnyReadingAnywhereInTheName) {
  InitialsCoder coder;
  const std::string changcheng = coder.encode("长城牌重型管卡");  // c/z, c, p, z/c, x, g, k/q
  EXPECT_TRUE(coder.matches(changcheng, "cc"));
  EXPECT_TRUE(coder.matches(changcheng, "zc"));
  EXPECT_TRUE(coder.matches(changcheng, "cx"));
  EXPECT_TRUE(coder.matches(changcheng, "zx"));
  EXPECT_TRUE(coder.matches(changcheng, "gq"));
  EXPECT_TRUE(coder.matches(changcheng, "gk"));
  EXPECT_FALSE(coder.matches(changcheng, "xc"));
  EXPECT_FALSE(coder.matches(changcheng, "ccpzxgkx"));
  EXPECT_TRUE(coder.matches(coder.encode("热轧带肋钢筋"), "ry"));
  EXPECT_TRUE(coder.matches(coder.encode("PVC-U 排水管"), "pvc"));
  EXPECT_TRUE(coder.matches(coder.encode("PVC-U 排水管"), "upsg"));
  EXPECT_TRUE(coder.matches(coder.encode("任何"), ""));
  EXPECT_EQ(coder.typedLetters("L W-G"), "lwg");
  EXPECT_EQ(coder.typedLetters("螺纹g"), "lwg");
}

namespace {

// A library of products with Chinese and Latin names for the search.
jetwrite::Database searchLibrary(int extra) {
  jetwrite::Database db = fixture::library();
  auto& products = db.tables[2].rows;
  products = {{"1", "螺纹钢 HRB400", "3", "1", "3.5000"},
              {"2", "长城牌螺纹钢", "3", "1", "4.2500"},
              {"3", "普通硅酸盐水泥", "2", "3", "0.3500"},
              {"4", "PVC排水管", "2", "2", "1.0000"},
              {"5", "商品混凝土 C30", "1", "1", "5.0000"}};
  for (int i = 0; i < extra; ++i)
    products.push_back({std::to_string(100 + i), "钢板" + std::to_string(i), "1", "1", "1.0000"});
  return db;
}

std::vector<std::string> names(platform::VSFlexGrid& g) {
  std::vector<std::string> out;
  for (int r = 3; r < g.Rows(); ++r) out.push_back(g.TextMatrix(r, 1));
  return out;
}

}  // namespace

TEST(PinyinSearch, TheThirdFieldFillsTheProductGridAndTheTwoFieldsKeepTheirConditions) {
  fixture::ProgramFolder folder(fixture::standardLayout(), fixture::standardSettings(), {}, searchLibrary(0));
  folder.open();
  EXPECT_FALSE(data::searchCondition(kSearchByInitials, "lwg")) << "nothing registered yet";
  registerInitialsSearch();
  registerInitialsSearch();
  EXPECT_EQ(data::extraSearchFields(), std::vector<std::string>{kSearchByInitials});
  // Registering one of the two original names changes nothing.
  data::registerSearchField(data::kSearchByName,
                            [](const ado::Connection&, const std::string&) { return std::string("1=1"); });
  EXPECT_EQ(*data::searchCondition(data::kSearchByName, "钢"), "StrConv(CLProduct.Name, 8) like '%钢%'");
  EXPECT_EQ(*data::searchCondition(data::kSearchByFactory, "5'0"), "StrConv(Factory.Name, 8) like '%5''0%'");

  platform::VSFlexGrid categories, products, factories;
  for (auto* g : {&categories, &products, &factories}) data::prepareNavigatorGrid(*g);
  data::NavigatorSession session(categories, products, factories);
  session.loadnav();
  using Outcome = data::NavigatorSession::SearchOutcome;
  ASSERT_EQ(session.search(kSearchByInitials, "lwg"), Outcome::Filled);
  EXPECT_EQ(names(products), (std::vector<std::string>{"螺纹钢 HRB400", "长城牌螺纹钢"}));
  ASSERT_EQ(session.search(kSearchByInitials, "zc"), Outcome::Filled);
  EXPECT_EQ(names(products), (std::vector<std::string>{"长城牌螺纹钢"})) << "长 read zhang";
  ASSERT_EQ(session.search(kSearchByInitials, "PVC"), Outcome::Filled);
  EXPECT_EQ(names(products), (std::vector<std::string>{"PVC排水管"}));
  ASSERT_EQ(session.search(kSearchByInitials, "xyz"), Outcome::Filled);
  EXPECT_TRUE(names(products).empty());
  EXPECT_EQ(session.search(kSearchByInitials, ""), Outcome::EmptyText);

  // The condition names the matching ids, or the others when they are fewer.
  InitialsIndex& index = libraryIndex();
  EXPECT_EQ(index.size(), 5u);
  EXPECT_EQ(index.condition("lwg"), "CLProduct.ID in (1,2)");
  EXPECT_EQ(index.condition("s"), "CLProduct.ID not in (1,2)");
  EXPECT_EQ(index.condition("qqq"), "CLProduct.ID is null");
  EXPECT_EQ(&libraryIndex(), &index) << "kept with the open library";
}

TEST(PinyinSearch, ALibraryOpenedAnewGetsAFreshIndex) {
  registerInitialsSearch();
  fixture::ProgramFolder folder(fixture::standardLayout(), fixture::standardSettings(), {}, searchLibrary(3));
  folder.open();
  EXPECT_EQ(libraryIndex().size(), 8u);
  jetwrite::writeDatabase(searchLibrary(0), folder.file("lib.zdj"));
  folder.open();
  EXPECT_EQ(libraryIndex().size(), 5u);
  EXPECT_EQ(libraryIndex().condition("gb"), "CLProduct.ID is null");
}

// Hundreds of matches (or of others) go as a set of ids; the grid fills with
// the rows, in the order, that the list of those ids as literals gives.
TEST(PinyinSearch, ManyMatchesFillAsTheListOfTheirIdsWould) {
  registerInitialsSearch();
  jetwrite::Database db = fixture::library();
  auto& products = db.tables[2].rows;
  products.clear();
  for (int i = 0; i < 900; ++i)  // ids not in the order of the rows
    products.push_back({std::to_string(5000 - 3 * i), (i % 3 ? "钢板" : "水泥") + std::to_string(i),
                        std::to_string(1 + i % 3), std::to_string(1 + i % 2), "1.0000"});
  fixture::ProgramFolder folder(fixture::standardLayout(), fixture::standardSettings(), {}, db);
  folder.open();
  platform::VSFlexGrid categories, grid, factories;
  for (auto* g : {&categories, &grid, &factories}) data::prepareNavigatorGrid(*g);
  data::NavigatorSession session(categories, grid, factories);
  session.loadnav();
  InitialsIndex& index = libraryIndex();
  // "sn" matches 300 products (named), "gb" 600 (the 300 others named).
  for (const auto& [typed, rows] : {std::pair<const char*, size_t>{"sn", 300}, {"gb", 600}}) {
    const std::string condition = index.condition(typed);
    EXPECT_EQ(condition.rfind("jet_id_in(CLProduct.ID, '", 0), 0u) << condition.substr(0, 40);
    ASSERT_EQ(session.search(kSearchByInitials, typed), data::NavigatorSession::SearchOutcome::Filled);
    const std::vector<std::string> found = names(grid);
    EXPECT_EQ(found.size(), rows) << typed;
    std::string list;
    for (long long id : index.find(index.coder().typedLetters(typed))) list += (list.empty() ? "" : ",") + std::to_string(id);
    std::string literal = "CLProduct.ID in (" + list + ")";
    short slot = data::libraryslot;
    data::fillgrid(slot, grid, literal, 1);
    EXPECT_EQ(names(grid), found) << typed;
  }
}

