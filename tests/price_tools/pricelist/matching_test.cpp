// The matching of a list's lines, rule by rule, on small libraries held in
// memory: each test names the way real lists are written that it covers.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "price_tools/pricelist/line_matching.h"
#include "price_tools/pricelist/normalise.h"
#include "support/test_support.h"

using namespace price_tools;
using namespace price_tools::pricelist;

namespace {

struct P {
  std::string name, model, unit, price;
  std::string factoryId = "1";
};

std::shared_ptr<const LibraryProducts> library(const std::vector<P>& items) {
  auto lib = std::make_shared<LibraryProducts>();
  lib->library = "测试库";
  int id = 1;
  for (const P& p : items) {
    Product q;
    q.id = std::to_string(id++);
    q.name = p.name;
    q.model = p.model;
    q.unit = p.unit;
    q.factoryId = p.factoryId;
    q.factory = "厂家" + p.factoryId;
    lib->factories[p.factoryId] = q.factory;
    if (!p.price.empty()) q.price = Decimal::parse(p.price);
    lib->products.push_back(q);
  }
  return lib;
}

struct Lib {
  Catalogue catalogue;
  explicit Lib(const std::vector<P>& items, Synonyms s = Synonyms::shipped()) : catalogue(library(items), s) {}
  std::vector<Candidate> rank(const std::string& name, const std::string& model, const std::string& unit = "",
                              const SeveralRule& rule = {}) const {
    return catalogue.rank({name, model, unit, ""}, rule, 5);
  }
  // "name|model" of the first answer, "" when there is none.
  std::string top(const std::string& name, const std::string& model, const std::string& unit = "") const {
    const auto r = rank(name, model, unit);
    return r.empty() ? "" : r.front().name + "|" + r.front().model;
  }
  MatchStatus status(const std::string& name, const std::string& model, const std::string& unit = "") const {
    return Catalogue::statusOf(rank(name, model, unit));
  }
  // Whether any answer offered is the product named.
  bool offers(const std::string& name, const std::string& model, const std::string& answerModel) const {
    for (const Candidate& c : rank(name, model))
      if (c.model == answerModel) return true;
    return false;
  }
};

}  // namespace

TEST(Normalising, FoldsWidthCaseBlanksTimesDashesAndDiameters) {
  using detail::foldText;
  EXPECT_EQ(foldText("螺纹钢　ＨＲＢ４００"), foldText("螺纹钢 hrb400"));
  EXPECT_EQ(foldText("  PPR   给水管 "), "ppr 给水管");
  for (const char* times : {"M10×80", "M10*80", "M10x80", "M10X80", "M10＊80"}) EXPECT_EQ(foldText(times), "m10x80") << times;
  for (const char* range : {"5~25", "5-25", "5—25", "5～25", "5至25", "5–25"}) EXPECT_EQ(foldText(range), "5-25") << range;
  for (const char* phi : {"Φ20", "φ20", "ф20", "直径20"}) EXPECT_EQ(foldText(phi), "φ20") << phi;
}

TEST(Normalising, UnitsOfOneMeasureAreOneUnit) {
  using detail::canonicalUnit;
  for (const char* u : {"m3", "m³", "M3", "立方米", "方"}) EXPECT_EQ(canonicalUnit(u), "m3") << u;
  for (const char* u : {"m2", "㎡", "m²", "平方米", "Ｍ２"}) EXPECT_EQ(canonicalUnit(u), "m2") << u;
  for (const char* u : {"t", "T", "吨"}) EXPECT_EQ(canonicalUnit(u), "t") << u;
  for (const char* u : {"kg", "KG", "千克", "公斤"}) EXPECT_EQ(canonicalUnit(u), "kg") << u;
  for (const char* u : {"m", "M", "米"}) EXPECT_EQ(canonicalUnit(u), "m") << u;
  EXPECT_NE(canonicalUnit("m"), canonicalUnit("m2"));
  EXPECT_NE(canonicalUnit("t"), canonicalUnit("kg"));
}

TEST(Matching, WrittenInOtherWidthsCasesAndBlanksFindsTheProduct) {
  const Lib lib({{"螺纹钢 HRB400", "Φ20", "吨", "4000"}, {"螺纹钢 HRB400", "Φ22", "吨", "4000"}});
  EXPECT_EQ(lib.top("螺纹钢　ＨＲＢ４００", "Φ２０", "Ｔ"), "螺纹钢 HRB400|Φ20");
  EXPECT_EQ(lib.status("螺纹钢  hrb400", "φ20", "t"), MatchStatus::Matched);
}

TEST(Matching, TimesSignsAreAlike) {
  const Lib lib({{"膨胀螺栓", "M10×80", "套", "1.2"}, {"膨胀螺栓", "M10×50", "套", "1.0"}, {"膨胀螺栓", "M12×80", "套", "1.5"}});
  for (const char* model : {"M10*80", "m10x80", "M10X80", "M10×80"}) {
    EXPECT_EQ(lib.top("膨胀螺栓", model, "套"), "膨胀螺栓|M10×80") << model;
    EXPECT_EQ(lib.status("膨胀螺栓", model, "套"), MatchStatus::Matched) << model;
  }
}

TEST(Matching, DiameterSignsAreAlike) {
  const Lib lib({{"圆钢 HPB300", "Φ8", "吨", "3900"}, {"圆钢 HPB300", "Φ10", "吨", "3900"}});
  for (const char* model : {"φ8", "ф8", "直径8mm", "Φ8"}) {
    EXPECT_EQ(lib.top("圆钢 HPB300", model, "t"), "圆钢 HPB300|Φ8") << model;
    EXPECT_EQ(lib.status("圆钢 HPB300", model, "t"), MatchStatus::Matched) << model;
  }
}

TEST(Matching, UnitsDecideBetweenAnswersAndAnotherUnitIsNeverClear) {
  const Lib lib({{"中砂", "", "吨", "80"}, {"中砂", "", "立方米", "120"}, {"水泥", "", "千克", "0.5"}});
  for (const char* unit : {"m3", "m³", "方", "立方米"}) {
    const auto r = lib.rank("中砂", "", unit);
    ASSERT_FALSE(r.empty());
    EXPECT_EQ(r.front().unit, "立方米") << unit;
    EXPECT_EQ(Catalogue::statusOf(r), MatchStatus::Matched) << unit;
  }
  EXPECT_EQ(lib.rank("中砂", "", "T").front().unit, "吨");
  EXPECT_EQ(lib.status("水泥", "", "公斤"), MatchStatus::Matched);
  EXPECT_NE(lib.status("水泥", "", "t"), MatchStatus::Matched);  // priced per kg, asked per ton
}

TEST(Matching, SizesInsideARangeAnswer) {
  const Lib lib({{"螺纹钢 HRB400", "Φ16-Φ25 定尺9m", "吨", "4100"},
                 {"螺纹钢 HRB400", "Φ28-Φ32 定尺9m", "吨", "4200"},
                 {"5-25mm 碎石", "天然", "立方米", "110"},
                 {"10-30mm 碎石", "天然", "立方米", "105"}});
  for (const char* model : {"Φ20", "直径20mm", "Φ16~25", "φ16-φ25"})
    EXPECT_EQ(lib.top("螺纹钢 HRB400", std::string(model) + " 定尺9m", "t"), "螺纹钢 HRB400|Φ16-Φ25 定尺9m") << model;
  EXPECT_EQ(lib.status("螺纹钢 HRB400", "Φ20 定尺9m", "t"), MatchStatus::Matched);
  EXPECT_EQ(lib.top("螺纹钢 HRB400", "Φ30 定尺9m", "t"), "螺纹钢 HRB400|Φ28-Φ32 定尺9m");
  // Outside every range: no answer of another size.
  EXPECT_EQ(lib.top("螺纹钢 HRB400", "Φ12", "t"), "");
  EXPECT_EQ(lib.top("碎石", "5~25", "m3"), "5-25mm 碎石|天然");
  EXPECT_EQ(lib.status("碎石", "5~25", "m3"), MatchStatus::Matched);
  EXPECT_EQ(lib.top("碎石 5-40mm", "", "m3"), "");
}

TEST(Matching, OtherNamesOfTheSameMaterialFromTheShippedTable) {
  const Lib lib({{"螺纹钢 HRB400", "Φ20", "吨", "4000"},
                 {"PPR给水管", "dn25×2.8mm", "米", "6"},
                 {"PVC-U排水管", "dn110×3.2mm", "米", "20"},
                 {"BV铜芯线", "BV 1×2.5mm²", "米", "2.1"},
                 {"圆钢 HPB300", "Φ20", "吨", "3900"}});
  EXPECT_EQ(lib.top("热轧带肋钢筋 HRB400", "Φ20", "t"), "螺纹钢 HRB400|Φ20");
  EXPECT_EQ(lib.status("热轧带肋钢筋 HRB400", "Φ20", "t"), MatchStatus::Matched);
  EXPECT_EQ(lib.top("PP-R给水管", "De25*2.8", "m"), "PPR给水管|dn25×2.8mm");
  EXPECT_EQ(lib.top("UPVC排水管", "dn110*3.2", "m"), "PVC-U排水管|dn110×3.2mm");
  EXPECT_EQ(lib.top("铜芯聚氯乙烯绝缘电线 BV", "2.5mm2", "m"), "BV铜芯线|BV 1×2.5mm²");
  EXPECT_EQ(lib.status("铜芯聚氯乙烯绝缘电线 BV", "2.5mm2", "m"), MatchStatus::Matched);
  // Without the table the other name is only a weak answer.
  const Lib bare({{"螺纹钢 HRB400", "Φ20", "吨", "4000"}, {"圆钢 HPB300", "Φ20", "吨", "3900"}}, Synonyms());
  EXPECT_NE(bare.status("热轧带肋钢筋 HRB400", "Φ20", "t"), MatchStatus::Matched);
}

TEST(Synonyms, TheUsersTableInTheProgramFolderExtendsTheShippedOne) {
  testsupport::ProgramFolder folder;
  const Synonyms before = Synonyms::forProgramFolder(folder.path());
  EXPECT_EQ(before.canonical(detail::foldText("钢筋混凝土排水管")), detail::foldText("钢筋混凝土排水管"));
  // GBK, as Notepad on a Chinese Windows writes it; groups that share a
  // name join the shipped group.
  testsupport::writeFile(folder / "材料别名.TXT",
                         testsupport::gbk("# 自己的叫法\r\n水泥管 = 钢筋混凝土排水管 = 砼管\r\n螺纹钢 = 三级钢\r\n"));
  const Synonyms s = Synonyms::forProgramFolder(folder.path());
  EXPECT_EQ(s.canonical(detail::foldText("钢筋混凝土排水管")), detail::foldText("水泥管"));
  EXPECT_EQ(s.canonical(detail::foldText("三级钢")), detail::foldText("螺纹钢"));
  EXPECT_EQ(s.canonical(detail::foldText("热轧带肋钢筋")), detail::foldText("螺纹钢"));
  const Lib lib({{"螺纹钢 HRB400", "Φ20", "吨", "4000"}, {"圆钢 HPB300", "Φ20", "吨", "3900"}}, s);
  EXPECT_EQ(lib.status("三级钢 HRB400", "Φ20", "t"), MatchStatus::Matched);
  Synonyms none;
  EXPECT_EQ(none.addTable("只有一个名称\n# 说明 = 不算\n"), 0);
  EXPECT_EQ(none.addTable("\xEF\xBB\xBF甲 = 乙\n"), 1);
  EXPECT_EQ(none.canonical("乙"), "甲");
}

// The costly mistakes: another grade or size is never an answer, however
// alike the rest of the text.
TEST(Matching, GradeAndSizeMustAgree) {
  const std::vector<std::pair<P, P>> pairs = {
      {{"螺纹钢 HRB400", "Φ20", "吨", "4000"}, {"螺纹钢 HRB400E", "Φ20", "吨", "4050"}},
      {{"螺纹钢 HRB400", "Φ20", "吨", "4000"}, {"螺纹钢 HRB500", "Φ20", "吨", "4300"}},
      {{"水泥 P.O42.5", "散装", "吨", "450"}, {"水泥 P.C42.5", "散装", "吨", "420"}},
      {{"H型钢", "Q235B", "吨", "4100"}, {"H型钢", "Q355B", "吨", "4300"}},
      {{"焊接钢管", "DN25", "米", "20"}, {"焊接钢管", "DN32", "米", "26"}},
      {{"PPR给水管", "dn25×2.8mm", "米", "6"}, {"PPR给水管", "dn25×4.4mm", "米", "8"}},
      {{"螺栓", "M10×50", "套", "0.5"}, {"螺栓", "M10×80", "套", "0.7"}},
  };
  for (const auto& [a, b] : pairs) {
    const std::string what = a.name + " " + a.model + " / " + b.name + " " + b.model;
    const Lib both({a, b});
    EXPECT_EQ(both.top(a.name, a.model, a.unit), a.name + "|" + a.model) << what;
    EXPECT_EQ(both.top(b.name, b.model, b.unit), b.name + "|" + b.model) << what;
    EXPECT_EQ(both.status(a.name, a.model, a.unit), MatchStatus::Matched) << what;
    // With only the other grade or size in the library there is no answer.
    const Lib onlyB({b});
    EXPECT_EQ(onlyB.top(a.name, a.model, a.unit), "") << what;
    const Lib onlyA({a});
    EXPECT_EQ(onlyA.top(b.name, b.model, b.unit), "") << what;
  }
  // Written another way, the grade still counts.
  const Lib cement({{"普通硅酸盐水泥 P.O42.5", "袋装", "吨", "450"}, {"复合硅酸盐水泥 P.C42.5", "袋装", "吨", "420"}});
  EXPECT_EQ(cement.top("普通硅酸盐水泥", "PO 42.5 袋装", "t"), "普通硅酸盐水泥 P.O42.5|袋装");
  EXPECT_EQ(cement.top("水泥 P·C42.5", "袋装", "t"), "复合硅酸盐水泥 P.C42.5|袋装");
  EXPECT_EQ(Lib({{"普通硅酸盐水泥 P.O42.5R", "袋装", "吨", "460"}}).top("普通硅酸盐水泥 P.O42.5", "袋装", "t"), "");
}

TEST(Matching, ALineLessExactThanTheLibraryIsNeverClear) {
  const Lib lib({{"PPR给水管", "dn25×2.8mm", "米", "6"}, {"PPR给水管", "dn25×4.4mm", "米", "8"}});
  const auto r = lib.rank("PPR给水管", "dn25", "m");
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(Catalogue::statusOf(r), MatchStatus::Check);
}

TEST(SeveralMakers, AreOneAnswerPricedByTheRule) {
  // Three makers of one product, and one more maker's product of another size.
  const Lib lib({{"螺纹钢 HRB400", "Φ20", "吨", "1.00", "1"},
                 {"螺纹钢 HRB400", "Φ20", "吨", "1.01", "2"},
                 {"螺纹钢 HRB400", "Φ20", "吨", "1.015", "3"},
                 {"螺纹钢 HRB400", "Φ20", "吨", "1.02", "4"},
                 {"螺纹钢 HRB400", "Φ22", "吨", "2", "1"}});
  auto priced = [&](const char* rule) {
    const auto r = lib.rank("螺纹钢 HRB400", "Φ20", "t", *SeveralRule::parse(rule));
    EXPECT_EQ(r.size(), 1u);
    return r.front();
  };
  const Candidate avg = priced("average");
  EXPECT_EQ(avg.products.size(), 4u);
  EXPECT_EQ(avg.factory, "");
  EXPECT_EQ(avg.price->text(), "1.01");  // 4.045 / 4 = 1.01125
  EXPECT_EQ(priced("median").price->text(), "1.01");   // (1.01 + 1.015) / 2 = 1.0125
  EXPECT_EQ(priced("lowest").price->text(), "1");
  EXPECT_EQ(priced("lowest").factory, "厂家1");
  EXPECT_EQ(priced("highest").price->text(), "1.02");
  EXPECT_EQ(priced("highest").id, "4");
  const Candidate third = priced("factory:3");
  EXPECT_EQ(third.price->text(), "1.02");  // 1.015 to two places, half away from zero
  EXPECT_EQ(third.factory, "厂家3");
  EXPECT_EQ(third.id, "3");
  EXPECT_FALSE(priced("factory:9").price);
  // Half away from zero: 1.00 and 1.01 average 1.005.
  const Lib two({{"圆钢", "Φ8", "吨", "1.00", "1"}, {"圆钢", "Φ8", "吨", "1.01", "2"}});
  EXPECT_EQ(two.rank("圆钢", "Φ8", "t").front().price->text(), "1.01");
  EXPECT_EQ(two.rank("圆钢", "Φ8", "t", *SeveralRule::parse("median")).front().price->text(), "1.01");
  const Lib negative({{"差价", "", "", "-1.00", "1"}, {"差价", "", "", "-1.01", "2"}});
  EXPECT_EQ(negative.rank("差价", "").front().price->text(), "-1.01");
  for (const char* bad : {"mean", "factory:", "Average", ""}) EXPECT_FALSE(SeveralRule::parse(bad)) << bad;
  EXPECT_EQ(SeveralRule::parse("factory:12")->text(), "factory:12");
}

TEST(SeveralMakers, AnAnswerIsFoundAgainByNameModelUnitAndMaker) {
  const Lib lib({{"螺纹钢 HRB400", "Φ20", "吨", "4000", "1"}, {"螺纹钢 HRB400", "Φ20", "吨", "4100", "2"}});
  const auto all = lib.catalogue.findAnswer("螺纹钢  ＨＲＢ400", "Φ20", "吨", "", {});
  ASSERT_TRUE(all);
  EXPECT_EQ(all->price->text(), "4050");
  const auto one = lib.catalogue.findAnswer("螺纹钢 HRB400", "Φ20", "吨", "厂家2", {});
  ASSERT_TRUE(one);
  EXPECT_EQ(one->price->text(), "4100");
  EXPECT_EQ(one->factory, "厂家2");
  EXPECT_FALSE(lib.catalogue.findAnswer("螺纹钢 HRB400", "Φ20", "吨", "厂家7", {}));
  EXPECT_FALSE(lib.catalogue.findAnswer("螺纹钢 HRB400", "Φ22", "吨", "", {}));
  EXPECT_EQ(lib.catalogue.answerOf(1, {})->products.size(), 2u);
  EXPECT_FALSE(lib.catalogue.answerOf(2, {}));
}

TEST(Status, IsStrict) {
  const Lib lib({{"螺纹钢 HRB400", "Φ16-Φ25 定尺9m", "吨", "4100"},
                 {"螺纹钢 HRB400", "Φ16-Φ25 定尺12m", "吨", "4150"},
                 {"中砂", "天然", "立方米", "120"}});
  EXPECT_EQ(lib.status("螺纹钢 HRB400", "Φ20 定尺12m", "t"), MatchStatus::Matched);
  EXPECT_EQ(lib.status("螺纹钢 HRB400", "Φ20", "t"), MatchStatus::Check);  // two close answers
  EXPECT_EQ(lib.status("中砂", "天然", "m3"), MatchStatus::Matched);
  EXPECT_EQ(lib.status("镀锌角钢", "L50×5", "t"), MatchStatus::None);
  EXPECT_EQ(lib.status("不锈钢水槽", "", "个"), MatchStatus::None);
  EXPECT_EQ(std::string(statusText(MatchStatus::Check)), "待确认");
  EXPECT_EQ(std::string(statusName(MatchStatus::None)), "none");
  EXPECT_EQ(Catalogue::statusOf({}), MatchStatus::None);
}
