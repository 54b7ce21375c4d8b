#pragma once
// A set of ids named in a statement as one short text instead of a list of
// literals: a search that matches a hundred thousand products reaches the
// engine as a condition of a few tens of kilobytes that is read once, not as
// a list the engine parses and indexes at every fill.
//
// The condition is "jet_id_in(COLUMN, 'CODE') = 1" for the rows whose value is
// one of the ids, "= 0" for the others; a row whose value is Null is neither,
// as with "in (…)" and "not in (…)". A value matches when it is a number equal
// to one of the ids (a whole number held as a real too); on a column of
// numbers, such as an id column, that is what the list of literals selects.
// A text never matches.
#include <string>
#include <string_view>
#include <vector>

namespace ado {

std::string idSetCondition(const std::string& column, std::vector<long long> ids, bool member);

// The ids a set's code names, ascending and without repeats; false for a text
// that is not such a code.
bool decodeIdSet(std::string_view code, std::vector<long long>& ids);

}  // namespace ado
