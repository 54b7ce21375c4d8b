// The comparison's scope "current search" and the products a search finds in
// a library beside the window's: a 拼音简码 search reads each library's own
// names, so on months that renumber their products it finds what the
// equivalent 产品名称 search finds, whichever library the window has open.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "data/navigation.h"
#include "month_folder.h"
#include "platform/messagebox/messagebox.h"
#include "price_tools/months/comparison.h"
#include "price_tools/months/history.h"
#include "price_tools/pinyin/pinyin_search.h"

using namespace price_tools;
using months_fixture::Item;
using months_fixture::MonthFolder;

namespace {

const char* kJan = "2026年01月信息价";
const char* kFeb = "2026年02月信息价";
const char* kOpen = "其他库";

// January and February as the month tests have them (February renumbers
// every product), and the window on a third library whose ids name other
// products there: 1 and 102 are 水泥, 3 is 螺纹钢, 104 is 圆钢.
struct ThreeLibraries {
  MonthFolder folder;
  platform::MessageBoxRecorder messages;
  ThreeLibraries() {
    std::vector<Item> january = months_fixture::earlierMonth();
    january.push_back({8, "线材", "Φ6.5", "吨", 1, "3700", 5});
    folder.writeLibrary(kJan, january);
    folder.writeLibrary(kFeb, months_fixture::laterMonth(), months_fixture::laterFactories());
    folder.writeLibrary(kOpen, {{1, "水泥", "P.O42.5", "吨", 3, "460", 5},
                                {102, "水泥", "P.S42.5", "吨", 3, "430", 5},
                                {3, "螺纹钢 HRB400", "Φ25", "吨", 1, "4500"},
                                {104, "圆钢", "Φ10", "吨", 1, "3950", 3},
                                {9, "钢板", "δ10", "吨", 2, "5000"}});
    EXPECT_EQ(folder.open(kOpen), 1);
    pinyin::registerInitialsSearch();
  }
};

// Typed initials and the name search that finds the same products.
struct Equivalent {
  const char* initials;
  const char* name;
};
const Equivalent kEquivalents[] = {{"sn", "水泥"}, {"lwg", "螺纹钢"}, {"yg", "圆钢"}};

std::vector<std::string> rows(const Comparison& c) {
  std::vector<std::string> out;
  for (const ComparedRow& r : c.rows)
    out.push_back((r.from ? r.from->id : "-") + ">" + (r.to ? r.to->id : "-") + " " + statusName(r.status) + " " +
                  (r.change ? r.change->text() : ""));
  const Summary& s = c.summary;
  out.push_back("summary " + std::to_string(s.up) + " " + std::to_string(s.down) + " " + std::to_string(s.same) +
                " " + std::to_string(s.added) + " " + std::to_string(s.gone));
  return out;
}

std::vector<std::string> points(const History& h) {
  std::vector<std::string> out{h.product.id + " " + h.product.name};
  for (const HistoryPoint& p : h.points)
    out.push_back(p.library + " " + (p.present ? p.id : "-") + " " + (p.price ? p.price->text() : "-"));
  return out;
}

Scope search(const char* field, const char* text) { return Scope{Scope::Search, "", field, text}; }

}  // namespace

TEST(SearchScope, AComparisonUnderAnInitialsSearchIsTheComparisonUnderTheNameSearch) {
  ThreeLibraries t;
  for (const Equivalent& e : kEquivalents) {
    const Comparison byInitials =
        compareLibraries(kJan, kFeb, "", search(pinyin::kSearchByInitials, e.initials), Filter::All);
    const Comparison byName = compareLibraries(kJan, kFeb, "", search(data::kSearchByName, e.name), Filter::All);
    EXPECT_EQ(rows(byInitials), rows(byName)) << e.initials;
  }
  // What they find: 水泥 P.O42.5 renumbered 4 -> 104, and P.C32.5 gone.
  EXPECT_EQ(rows(compareLibraries(kJan, kFeb, "", search(pinyin::kSearchByInitials, "sn"), Filter::All)),
            (std::vector<std::string>{"4>104 up 20", "5>- gone ", "summary 1 0 0 0 1"}));
  EXPECT_EQ(rows(compareLibraries(kJan, kFeb, "", search(pinyin::kSearchByInitials, "lwg"), Filter::Changed)),
            (std::vector<std::string>{"1>101 up 200", "2>102 down -100", "6>106 new ", "summary 1 1 0 1 0"}));
  // The window's own search still reads the window's library.
  EXPECT_EQ(*data::searchCondition(pinyin::kSearchByInitials, "sn"), "CLProduct.ID in (1,102)");
}

TEST(SearchScope, TheProductsAnInitialsSearchFindsBesideTheWindowHaveTheHistoriesOfTheNameSearch) {
  ThreeLibraries t;
  // The histories of the products a search finds in one library.
  auto histories = [](const std::string& library, const std::set<std::string>& ids) {
    std::vector<std::vector<std::string>> out;
    for (const std::string& id : ids) out.push_back(points(productHistory(id, library, "")));
    return out;
  };
  for (const char* library : {kJan, kFeb}) {
    const LibraryFile file(library);
    for (const Equivalent& e : kEquivalents) {
      const auto byInitials = histories(library, file.searchIds(pinyin::kSearchByInitials, e.initials));
      EXPECT_FALSE(byInitials.empty()) << library << " " << e.initials;
      EXPECT_EQ(byInitials, histories(library, file.searchIds(data::kSearchByName, e.name)))
          << library << " " << e.initials;
    }
  }
  const LibraryFile january(kJan);
  EXPECT_EQ(january.searchIds(pinyin::kSearchByInitials, "lwg"), (std::set<std::string>{"1", "2", "6"}));
  EXPECT_EQ(histories(kJan, {"2"}).front(),
            (std::vector<std::string>{"2 螺纹钢 HRB400", "2026年01月信息价 2 4100.5", "2026年02月信息价 102 4000.5",
                                      "其他库 - -"}));
}
