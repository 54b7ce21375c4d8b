#pragma once
// The JSON picture of an opened file that `velmora-cli dump` prints:
// {"tables": {NAME: {"columns": [{"name", "type", "size"}], "rowCount": N,
//  "rows": [{COLUMN: VALUE, ...}]}}}: numbers as JSON numbers, currency as text
// with four decimals, date/time as ISO 8601 text, booleans true/false, nulls null.
#include <string>

#include "platform/database/jet_database.h"

namespace ado {

// `onlyTable` empty: every user table; otherwise that table (case-insensitive).
// Returns false when `onlyTable` names no table.
bool dumpJson(Database& db, const std::string& onlyTable, std::string& out);

std::string jsonString(const std::string& s);
std::string jsonNumber(double d);  // shortest text that reads back as d; null if not finite

}  // namespace ado
