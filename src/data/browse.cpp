#include "data/browse.h"

#include <algorithm>
#include <filesystem>

#include "common/program_folder.h"
#include "data/connections.h"
#include "data/fill.h"
#include "data/layout.h"
#include "data/skip_on_error.h"

namespace data {

using platform::VSFlexGrid;

void prepareNavigatorGrid(VSFlexGrid& grid) {
  if (grid.Rows() < 3) grid.setRows(3);
  grid.setFixedRows(3);
  grid.setFixedCols(1);
}

NavigatorSession::NavigatorSession(VSFlexGrid& categories, VSFlexGrid& products, VSFlexGrid& factories)
    : grids_{&categories, &products, &factories} {}

VSFlexGrid& NavigatorSession::grid(int index) {
  if (index < 0 || index > 2) throw platform::GridError("no grid " + std::to_string(index));
  return *grids_[index];
}

void NavigatorSession::loadnav() {
  shown_ = ShownProducts{};
  skipOnError("loadnav: category layout", [&] { layoutgrid(*grids_[Categories], "Category"); });
  skipOnError("loadnav: category fill", [&] {
    std::string condition = "ID=0";
    fillgrid(libraryslot, *grids_[Categories], condition, 1);
  });
  skipOnError("loadnav: product layout", [&] { layoutgrid(*grids_[Products], "CLProduct"); });
  skipOnError("loadnav: manufacturer layout", [&] { layoutgrid(*grids_[Factories], "Factory"); });
  skipOnError("loadnav: manufacturer fill", [&] {
    std::string condition;
    fillgrid(libraryslot, *grids_[Factories], condition, 1);
  });
}

bool NavigatorSession::fillProducts(std::string condition) {
  return skipOnError("fillProducts: fill", [&] { fillgrid(libraryslot, *grids_[Products], condition, 1); });
}

bool NavigatorSession::fillByCategory(const std::string& id) {
  shown_ = ShownProducts{ShownProducts::Category, idText(id), "", ""};
  return fillProducts("CLProduct.CategoryID=" + idText(id));
}

bool NavigatorSession::fillByFactory(const std::string& id) {
  shown_ = ShownProducts{ShownProducts::Factory, idText(id), "", ""};
  return fillProducts("CLProduct.FactoryID=" + idText(id));
}

bool NavigatorSession::click(int index) {
  if (index == Categories) return fillByCategory(currentRowId(*grids_[Categories]));
  if (index == Factories) return fillByFactory(currentRowId(*grids_[Factories]));
  return true;
}

NavigatorSession::SearchOutcome NavigatorSession::search(const std::string& field, const std::string& text) {
  if (text.empty()) return SearchOutcome::EmptyText;
  auto condition = searchCondition(field, text);
  if (!condition) return SearchOutcome::NoSuchField;
  shown_ = ShownProducts{ShownProducts::Search, "", field, text};
  // The fill puts " where " in front of a condition only when the text holds no
  // "where" of its own, so a typed text such as "somewhere" would reach the
  // statement without its keyword. The search brings the keyword itself; the
  // statement is the same as the fill would build.
  return fillProducts(" where " + *condition) ? SearchOutcome::Filled : SearchOutcome::Failed;
}

PageTarget NavigatorSession::pageOf(const PageKey& key, const std::string& serviceBase) {
  PageTarget target;
  target.address = defaultPagePath();
  skipOnError("pageOf: page lookup", [&] { target = lookupPage(key, serviceBase); });
  return target;
}

PageTarget NavigatorSession::page(const std::string& serviceBase) const {
  return pageOf(pageKey(*grids_[Products]), serviceBase);
}

std::vector<std::string> libraryNames(const std::string& folder) {
  auto lower = [](std::string s) {
    for (char& c : s)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
  };
  std::vector<std::string> files;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    if (!entry.is_regular_file(ec)) continue;
    const std::string name = entry.path().filename().string();
    if (name.size() > 4 && lower(name.substr(name.size() - 4)) == ".zdj") files.push_back(name);
  }
  std::sort(files.begin(), files.end(), [&](const std::string& a, const std::string& b) {
    const std::string la = lower(a), lb = lower(b);
    return la != lb ? la < lb : a < b;
  });
  for (std::string& f : files) f.resize(f.size() - 4);
  return files;
}

int openFolder(const std::string& folder, const std::string& libraryName) {
  common::setProgramFolder(folder);
  return opendatabases(libraryName + ".zdj");
}

}  // namespace data
