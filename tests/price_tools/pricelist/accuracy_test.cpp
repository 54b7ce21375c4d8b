// The matching's accuracy on labelled lists: lines written as estimating
// programs export them and as people type them (labelled/*.csv), against a
// library the Jet writer makes from labelled/library.csv. Every line names
// the answers that are right for it, or "-" when the library has none.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "month_folder.h"
#include "platform/messagebox/messagebox.h"
#include "price_tools/months/products.h"
#include "price_tools/pricelist/line_matching.h"
#include "support/test_support.h"

using namespace price_tools;
using namespace price_tools::pricelist;

namespace {

std::vector<std::vector<std::string>> readRows(const std::string& file) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(testsupport::readFile(std::string(LABELLED_DIR) + "/" + file));
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> cells;
    std::string cell;
    for (char c : line) {
      if (c == ',') cells.push_back(cell), cell.clear();
      else cell += c;
    }
    cells.push_back(cell);
    rows.push_back(cells);
  }
  return rows;
}

struct Labelled {
  std::string name, model, unit;
  std::vector<std::string> answers;  // "name|model|unit"; empty: the library has none
};

std::vector<Labelled> readList(const std::string& file) {
  std::vector<Labelled> out;
  for (const auto& r : readRows(file)) {
    EXPECT_EQ(r.size(), 4u) << file << ": " << r[0];
    if (r.size() != 4) continue;
    Labelled l{r[0], r[1], r[2], {}};
    if (r[3] != "-") {
      std::istringstream answers(r[3]);
      for (std::string a; std::getline(answers, a, ';');) l.answers.push_back(a);
    }
    out.push_back(l);
  }
  return out;
}

struct Figures {
  int lines = 0, answerable = 0, first = 0, withinFive = 0, wrongMatched = 0, unanswerableMatched = 0;
};

Figures measure(const Catalogue& catalogue, const std::vector<Labelled>& list, const std::string& title) {
  Figures f;
  for (const Labelled& l : list) {
    const auto ranked = catalogue.rank({l.name, l.model, l.unit, ""}, {}, 5);
    const MatchStatus status = Catalogue::statusOf(ranked);
    auto right = [&](const Candidate& c) {
      const std::string key = c.name + "|" + c.model + "|" + c.unit;
      return std::find(l.answers.begin(), l.answers.end(), key) != l.answers.end();
    };
    ++f.lines;
    const bool firstRight = !ranked.empty() && right(ranked.front());
    if (!l.answers.empty()) {
      ++f.answerable;
      f.first += firstRight;
      f.withinFive += std::any_of(ranked.begin(), ranked.end(), right);
    } else if (status == MatchStatus::Matched) {
      ++f.unanswerableMatched;
    }
    if (status == MatchStatus::Matched && !firstRight) ++f.wrongMatched;
    const bool noted = (l.answers.empty() ? status == MatchStatus::Matched : !firstRight) ||
                       (status == MatchStatus::Matched && !firstRight);
    if (noted || std::getenv("VELMORA_ACCURACY_ALL"))
      std::printf("  %s: %s | %s | %s -> %s %s (%d)\n", title.c_str(), l.name.c_str(), l.model.c_str(), l.unit.c_str(),
                  statusText(status), ranked.empty() ? "-" : (ranked.front().name + " " + ranked.front().model).c_str(),
                  ranked.empty() ? 0 : ranked.front().score);
  }
  return f;
}

}  // namespace

TEST(Accuracy, LabelledListsAgainstALibraryOfTheJetWriter) {
  months_fixture::MonthFolder folder;
  platform::MessageBoxRecorder messages;
  std::vector<months_fixture::Item> items;
  months_fixture::Factories factories;
  for (int f = 1; f <= 22; ++f) factories.push_back({f, "样例厂家" + std::to_string(f)});
  int id = 1;
  for (const auto& r : readRows("library.csv")) {
    ASSERT_EQ(r.size(), 5u) << r[0];
    items.push_back({id++, r[0], r[1], r[2], std::stoi(r[3]), r[4]});
  }
  folder.writeLibrary("2026年06月信息价", items, factories);
  const LibraryFile file("2026年06月信息价");
  const auto products = std::make_shared<const LibraryProducts>(file.products("PriceTax"));
  ASSERT_EQ(products->products.size(), items.size());
  const Catalogue catalogue(products, Synonyms::shipped());

  Figures all;
  for (const char* list : {"estimating.csv", "handwritten.csv"}) {
    const Figures f = measure(catalogue, readList(list), list);
    std::printf("%s: %d lines, %d answerable: first %d, within five %d, wrong 匹配 %d, unanswerable 匹配 %d\n", list,
                f.lines, f.answerable, f.first, f.withinFive, f.wrongMatched, f.unanswerableMatched);
    all.lines += f.lines, all.answerable += f.answerable, all.first += f.first, all.withinFive += f.withinFive;
    all.wrongMatched += f.wrongMatched, all.unanswerableMatched += f.unanswerableMatched;
  }
  const double first = 100.0 * all.first / all.answerable, five = 100.0 * all.withinFive / all.answerable;
  const double wrong = 100.0 * all.wrongMatched / all.lines;
  std::printf("all: %d lines (%d the library cannot answer): right at the first candidate %.1f %%, within five %.1f %%, "
              "wrong 匹配 %.2f %% of lines, unanswerable lines 匹配 %d\n",
              all.lines, all.lines - all.answerable, first, five, wrong, all.unanswerableMatched);
  EXPECT_GE(all.lines, 250);
  EXPECT_GE(all.lines - all.answerable, 30);
  EXPECT_GE(first, 95.0);
  EXPECT_GE(five, 99.0);
  EXPECT_LE(wrong, 1.0);
  EXPECT_EQ(all.unanswerableMatched, 0);
}
