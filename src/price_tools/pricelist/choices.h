#pragma once
// The user's choices for the lines of a material list, kept in a file beside
// the list ("材料表.xlsx.velmora.json") so that reopening the list restores
// them. A choice applies to every line written the same way (normalised name,
// model and unit), and names the product by its name, model, unit and
// manufacturer, so that a library of another month keeps it.
#include <map>
#include <optional>
#include <string>

namespace price_tools::pricelist {

struct ListLine;

struct Choice {
  bool none = false;  // the user said the library has no answer for the line
  std::string name, model, unit;
  std::string factory;  // "" when the answer combines several makers
};

class Choices {
 public:
  // The file kept beside a list.
  static std::string besidePath(const std::string& listPath);
  // Reads a choices file; an absent file gives no choices. Throws
  // std::runtime_error naming the file when it is damaged.
  static Choices load(const std::string& path);
  // Writes the file (atomically). Throws std::runtime_error on failure.
  void save(const std::string& path) const;

  static std::string keyOf(const ListLine& line);
  std::optional<Choice> find(const ListLine& line) const;
  void set(const ListLine& line, const Choice& choice);
  void clear(const ListLine& line);
  size_t size() const { return byKey_.size(); }

 private:
  std::map<std::string, Choice> byKey_;
};

}  // namespace price_tools::pricelist
