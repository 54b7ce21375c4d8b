#pragma once
// Matching a material list's line to the products of a library: ranked
// answers from a score over name, model and unit (and manufacturer when the
// list names one), after normalising the ways real lists are written:
//   - full-width and half-width forms, letter case, blanks;
//   - × * x X alike; ~ - — ～ 至 alike in ranges; Φ φ ф 直径 alike;
//   - units: m3 m³ 立方米 方; m2 ㎡ m² 平方米; t T 吨; kg 千克 公斤; m 米;
//   - sizes inside a range ("Φ16-Φ25" answers "Φ20", "直径20mm", "Φ16~25");
//   - other names of the same material, from the table of trade synonyms;
//   - grade and size must agree (HRB400/HRB400E/HRB500, P.O42.5/P.C42.5,
//     Q235B/Q355B, DN25/DN32, dn25×2.8/dn25×4.4, M10×50/M10×80): a product of
//     another grade or size is never an answer.
// Products with the same name, model and unit from several manufacturers are
// one answer, priced by the user's rule for several makers.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "price_tools/months/decimal.h"
#include "price_tools/months/products.h"

namespace price_tools::pricelist {

// Other names of the same material: lines of a readable table, each a group
// of names that mean the same ("热轧带肋钢筋 = 螺纹钢"). The program ships one
// table; a user extends it with "材料别名.txt" in the program folder.
class Synonyms {
 public:
  Synonyms() = default;
  // The shipped table.
  static Synonyms shipped();
  // The shipped table and, when the program folder holds one (any letter
  // case), the user's table added to it.
  static Synonyms forProgramFolder(const std::string& folder);
  // Adds the groups of a table's text; returns the number of groups read.
  int addTable(const std::string& text);

  // The canonical spelling of the group `normalisedText` belongs to, the text
  // itself when it belongs to none (for tests and the matcher).
  std::string canonical(const std::string& normalisedText) const;
  // Every group: the normalised names of each.
  const std::vector<std::vector<std::string>>& groups() const { return groups_; }

 private:
  std::vector<std::vector<std::string>> groups_;
};

// The rule for an answer with several makers.
struct SeveralRule {
  enum Kind { Average, Lowest, Highest, Median, Factory } kind = Average;
  std::string factoryId;  // Factory: the manufacturer whose price is taken

  // "average", "lowest", "highest", "median", "factory:ID"; nullopt otherwise.
  static std::optional<SeveralRule> parse(const std::string& text);
  std::string text() const;
};

// An answer: the products of one name, model and unit.
struct Candidate {
  std::vector<int> products;  // indices into the library's products, every maker of the answer
  std::string id;             // the first product's id (the chosen maker's under the Factory rule)
  std::string name, model, unit;
  std::string factory;         // the maker's name; "" when several makers' prices are combined
  std::optional<Decimal> price;  // by the rule: an average or median rounded half away from zero to two places
  int score = 0;                 // 0 to 100, higher is better
};

// The price of an answer from its makers' prices by the rule: the lowest,
// the highest, the median or the average (median and average rounded half
// away from zero to two places); nullopt when no maker has a price. The
// Factory rule takes the average of the prices given (the chosen maker's).
std::optional<Decimal> priceByRule(std::vector<Decimal> prices, SeveralRule::Kind kind);

enum class MatchStatus { Matched, Check, None };
const char* statusText(MatchStatus status);  // "匹配", "待确认", "未匹配"
const char* statusName(MatchStatus status);  // "matched", "check", "none"

// What a line asks for.
struct LineQuery {
  std::string name, model, unit;
  std::string factory;  // "" when the list names none
};

// The products of one library, indexed once for matching many lines.
class Catalogue {
 public:
  Catalogue(std::shared_ptr<const LibraryProducts> library, Synonyms synonyms);
  ~Catalogue();
  Catalogue(const Catalogue&) = delete;
  Catalogue& operator=(const Catalogue&) = delete;

  const LibraryProducts& library() const;

  // The answers for a line, best first, at most `limit`.
  std::vector<Candidate> rank(const LineQuery& line, const SeveralRule& rule, size_t limit = 5) const;
  // The status ranked answers give: 匹配 for one clear answer, 待确认 for
  // several close ones or only a weak one, 未匹配 for none.
  static MatchStatus statusOf(const std::vector<Candidate>& ranked);

  // The answer a product belongs to (its name, model and unit, every maker),
  // priced by the rule; nullopt for an index out of range.
  std::optional<Candidate> answerOf(int productIndex, const SeveralRule& rule) const;
  // The answer of a name, model, unit (and maker, when not empty) as a
  // library of another month holds it; nullopt when it holds none.
  std::optional<Candidate> findAnswer(const std::string& name, const std::string& model, const std::string& unit,
                                      const std::string& factory, const SeveralRule& rule) const;

 private:
  struct Index;
  std::unique_ptr<Index> index_;
};

}  // namespace price_tools::pricelist
