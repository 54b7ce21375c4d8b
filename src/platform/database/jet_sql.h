#pragma once
// The provider's engine side of Jet's SQL (internal to the provider): the
// functions and operators Jet gives statements, registered in the SQLite copy,
// and the pieces of the statement translation the rest of the provider shares.
//
// Jet meanings kept:
//   a + b      two texts are joined; numbers add; a numeric text with a number
//              adds as a number, any other text with a number fails ("Data type
//              mismatch in criteria expression."); Null with anything is Null.
//   a & b      joined as texts, a Null taken as ""; Null & Null is Null.
//   Left, Right, Mid, Len, Trim, LTrim, RTrim, InStr, IIf, Format, Val, Str,
//   Nz, UCase, LCase, StrConv: as Jet's expression service has them (positions count
//   characters from 1; a Null text gives Null; a Null count or position, or
//   Val(Null), fails "Invalid use of Null"; a count or position out of range
//   fails "Invalid procedure call or argument"). Format formats numbers with
//   the grid's number formats (platform::formatCellText).
//   a like b   ignores the case of every letter that has one, as "=" does
//              (the text collation); % and _ are the wildcards.
// A function Jet does not know (SQLite's own among them) fails as an unknown
// function: "no such function: NAME".
#include <functional>
#include <string>
#include <vector>

struct sqlite3;

namespace ado {

bool identStart(unsigned char c);
bool identChar(unsigned char c);

// The collation of the copy's text columns (common::collateText).
constexpr const char* kTextCollation = "JETTEXT";

// Registers the functions, the two operators' functions and the text
// collation in the engine.
void registerJetFunctions(sqlite3* db);

// True for the functions a statement may call (those above, the aggregates
// Count, Sum, Avg, Min, Max, Abs, and the engine's own that the translation
// writes). `name` in any case.
bool knownFunction(const std::string& name);

// Sum and Avg of a Currency column (isCurrency says which names are) as the
// engine's exact Currency aggregates, jet_currency_sum and jet_currency_avg.
// `currencyItems` receives the positions (from 0) of the outer select list's
// items that are such an aggregate as a whole: their results are Currency.
std::string currencyAggregates(const std::string& statement,
                               const std::function<bool(const std::string&)>& isCurrency,
                               std::vector<int>& currencyItems);

// The order of a select's rows, settled for the engine (on the translated
// statement). A select whose rows are ordered (a top-level ORDER BY; no
// DISTINCT, GROUP BY, HAVING or compound select; only tables in its FROM
// clause) gets one more key per table, in the order the FROM clause names
// them: the table's `rowid`, the position of the row in the library's table.
// So rows equal on every key the statement gives come in the order of their
// tables' rows as the library stores them (the first table's first), whatever
// way the engine reaches them. Any other statement is given back unchanged,
// and so is every statement when `rowid` is empty (a table has a column of
// that name).
//
// Once the order is total, the engine may reach the rows as it likes; where
// its guess is known to be poor, the statement says how: a join of tables by
// "inner join" only, whose WHERE names columns of the first table alone (each
// as "Table.column") and holds no select of its own, is written as a CROSS
// JOIN, so that the engine walks the first table (or the index its condition
// names) and looks each row's partners up, rather than walk a joined table
// and look up every row of the first one again by its link column.
std::string settleOrder(const std::string& sql, const std::string& rowid);

// The texts the functions fail with.
extern const char* const kTypeMismatch;     // "Data type mismatch in criteria expression."
extern const char* const kInvalidNull;      // "Invalid use of Null"
extern const char* const kInvalidArgument;  // "Invalid procedure call or argument"

}  // namespace ado
