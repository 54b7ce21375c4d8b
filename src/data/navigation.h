#pragma once
// The rules of the navigation flow that the main window's click handler and
// page display share with the headless browser (browse.h):
//   - which id a navigator row stands for, and how an id is made safe for a
//     statement;
//   - which product row the page display looks at, and which page a
//     (category, manufacturer) pair has;
//   - the search conditions of the toolbar.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/grid/vsflexgrid.h"

namespace ado {
class Connection;
}

namespace data {

// An id text as it goes into a statement: a plain integer (optional minus
// sign, digits, surrounding blanks ignored) in canonical form, anything else
// (empty, "12a", "1 or 1=1", "=7", "1.5") "0".
std::string idText(const std::string& text);

// The id of a navigator's current row: the text of its last column, through
// idText. A grid without a current row or columns gives "0".
std::string currentRowId(const platform::VSFlexGrid& grid);

// The first row below the fixed rows whose last column holds exactly `id`;
// -1 when there is none (or the grid has no columns).
int rowWithId(const platform::VSFlexGrid& grid, const std::string& id);

// The product row the page display reads: the current row, or the last row
// when the current row lies past the end or at or above the last header row
// (a click on the header, or no current row).
int pageRow(const platform::VSFlexGrid& products);

// The (category, manufacturer) pair of the page row: the third-last and
// second-last columns, each through idText.
struct PageKey {
  std::string categoryId = "0";
  std::string factoryId = "0";
};
PageKey pageKey(const platform::VSFlexGrid& products);

// The local default page: program folder + "\web\Orvanta.htm" (native form).
std::string defaultPagePath();

// What the page display shows for a pair.
struct PageTarget {
  bool isDefault = true;  // no HtmlRelational row: the default page, Tag ""
  bool isLocal = false;   // the page file lies in the program folder
  std::string address;    // the page address (the default page's path when isDefault)
};

// Whether a page name of HtmlRelational stays inside the program folder: not
// when a part of it climbs out (".."), or it names a drive ("C:\...") or a
// share ("\\server\..."). The usual form, one leading separator then
// folder and file names ("\web\a.htm"), stays.
bool pageNameStaysInFolder(const std::string& name);

// Looks the pair up in HtmlRelational of the library (slot libraryslot, in the
// shared record set auxrs, released and re-created first): no row gives the
// default page, and so does a row whose HtmlFileName leaves the program folder
// (pageNameStaysInFolder), locally and online alike; a row whose HtmlFileName
// exists under the program folder gives program folder + one separator
// + HtmlFileName (native separators; a file whose name differs only in letter
// case is taken as it lies), otherwise
// serviceBase + "/vosk" + HtmlFileName. Throws when the query cannot run (no
// library open); the caller then shows the default page.
PageTarget lookupPage(const PageKey& key, const std::string& serviceBase);

// Doubles every apostrophe, so typed text can stand inside '...' in a statement.
std::string doubleApostrophes(const std::string& text);

// The search fields of the toolbar's search combo.
inline constexpr const char* kSearchByName = "产品名称";
inline constexpr const char* kSearchByFactory = "生产厂家";

// The row condition of a search: "StrConv(CLProduct.Name, 8) like '%" + text +
// "%'" for 产品名称, "StrConv(Factory.Name, 8) like '%" + text + "%'" for
// 生产厂家, with the text in its half-width form (common::narrowText) and its
// apostrophes doubled: letter case and width are both ignored; for another
// field the condition of a registered search field of that name (below),
// built from the library open on `library`; nullopt for any other field (no
// search is made). An empty text is the caller's business (it asks for a text
// first). A registered field's condition may throw (no library open there).
std::optional<std::string> searchCondition(const ado::Connection& library, const std::string& field,
                                           const std::string& text);
// The same for the main window's library, open on connections(libraryslot).
std::optional<std::string> searchCondition(const std::string& field, const std::string& text);

// Further search fields, added by the tools beside the main program: a field
// name and the routine that turns a typed text into a row condition on the
// product grid's statement of the library open on the connection it is given
// (a condition may name the library's own ids, so it holds for that library
// only). searchCondition asks them only for names other than the two above,
// which keep their conditions whatever is registered. Registering a name
// again replaces its routine.
using SearchFieldCondition = std::function<std::string(const ado::Connection& library, const std::string& text)>;
void registerSearchField(const std::string& name, SearchFieldCondition condition);
// The registered names, in the order of their first registration.
std::vector<std::string> extraSearchFields();
// Whether a search of that field can be made: one of the two above or a registered one.
bool isSearchField(const std::string& field);

}  // namespace data
