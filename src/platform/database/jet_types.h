#pragma once
// How the provider keeps Jet's column types in its SQLite copy (internal to
// the provider): the declared types of the copy's columns, Currency amounts as
// bound and read back, the exact Currency aggregates, and quoted names.
#include <cstdint>
#include <string>

#include "platform/database/jet_database.h"

struct sqlite3;
struct sqlite3_stmt;

namespace ado {

// The declared type of a copied column, and the Jet type a declared type
// names (Unknown for none).
const char* declaredType(JetType t);
JetType typeFromDecl(const char* decl);

// A Currency amount (a count of 1/10000 units) bound as parameter k, and read
// back from result column i.
void bindCurrency(sqlite3_stmt* st, int k, int64_t units);
int64_t currencyUnitsOf(sqlite3_stmt* st, int i);

// A result cell as the provider gives it: its type asked first of the
// engine's storage `cls` (sqlite3_column_type of column i), then of the
// column's declared Jet type, then of what the engine holds; and its value of
// that type. Every reading path (record sets, rows as they come, the column
// reader) goes through these two.
Variant::Type cellType(sqlite3_stmt* st, int i, int cls, JetType decl);
Variant cellValue(sqlite3_stmt* st, int i, int cls, JetType decl);
// The same cell added to a result's cells, its text copied once, into the
// cells' own blocks.
void appendCell(Cells& cells, sqlite3_stmt* st, int i, int cls, JetType decl);

// A cell's Variant from its type and its number: a whole number for Boolean
// (-1, 0), Byte, Integer, Long and Currency (units), a real one for Single,
// Double and Date. The one place where a stored number becomes its Variant.
Variant variantOf(Variant::Type type, int64_t whole);
Variant variantOf(Variant::Type type, double real);

// Registers jet_currency_sum and jet_currency_avg in the engine.
void registerCurrencyAggregates(sqlite3* db);

// A name in double quotes, as SQLite's identifiers are quoted.
std::string quoteIdent(const std::string& s);

// Names ending in "id" (any case): the id and link columns.
bool endsWithId(const std::string& name);

}  // namespace ado
