#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "common/text_case.h"
#include "platform/database/cache_file.h"
#include "platform/database/jet_database.h"
#include "platform/database/jet_reader.h"
#include "platform/database/jet_sql.h"
#include "platform/database/jet_types.h"
#include "platform/database/sqlite_handles.h"

// Statements: Jet's SQL translated and run in the engine, under a guard that
// lets through only what a Jet select may do; results read with Jet's types
// and field names.

namespace ado {

using common::asciiLower;

namespace {

Error statementError(sqlite3* db, const std::string& statement) {
  if (auto damaged = damagedEntryError(db)) return *damaged;
  std::string msg = sqlite3_errmsg(db);
  auto after = [&](const char* prefix) -> std::string {
    std::size_t n = std::strlen(prefix);
    return msg.compare(0, n, prefix) == 0 ? msg.substr(n) : std::string();
  };
  std::string name;
  if (!(name = after("no such table: ")).empty())
    return Error(-2147217865, "The Microsoft Jet database engine cannot find the input table or query '" +
                                  name + "'.  Make sure it exists and that its name is spelled correctly.");
  if (!(name = after("no such column: ")).empty())
    return Error(-2147217904, "No value given for one or more required parameters.");
  if (!(name = after("ambiguous column name: ")).empty())
    return Error(jet::kFail, "The specified field '" + name +
                                 "' could refer to more than one table listed in the FROM clause of "
                                 "your SQL statement.");
  if (msg.find("syntax error") != std::string::npos || msg.find("incomplete input") != std::string::npos ||
      msg.find("unrecognized token") != std::string::npos)
    return Error(-2147217900, "Syntax error in query expression '" + statement + "'.");
  if (msg == kTypeMismatch) return Error(-2147217913, msg);
  return Error(jet::kFail, msg);
}

Error invalidStatement() {
  return Error(-2147217900, "Invalid SQL statement; expected 'DELETE', 'INSERT', 'PROCEDURE', 'SELECT', or 'UPDATE'.");
}
Error readOnly() { return Error(jet::kFail, "Operation must use an updateable query."); }

// The statement guard: while a statement is prepared, the engine asks for
// every action it would take. One select reading the tables, calling the
// functions Jet has, is all that is allowed; the first refusal is kept to be
// reported as Jet reports such a statement.
struct StatementGuard {
  int refused = 0;   // action code, 0 while nothing was refused
  std::string name;  // the function or table refused

  static int check(void* data, int action, const char* a3, const char* a4, const char*, const char*) {
    auto* g = static_cast<StatementGuard*>(data);
    const char* refusedName = "";
    switch (action) {
      case SQLITE_SELECT: return SQLITE_OK;
      case SQLITE_READ:
        // The engine's own tables are none of Jet's.
        if (!a3 || sqlite3_strnicmp(a3, "sqlite_", 7) != 0) return SQLITE_OK;
        refusedName = a3;
        break;
      case SQLITE_FUNCTION:
        if (a4 && knownFunction(a4)) return SQLITE_OK;
        refusedName = a4 ? a4 : "";
        break;
      default: break;
    }
    if (!g->refused) {
      g->refused = action;
      g->name = refusedName;
    }
    return SQLITE_DENY;
  }

  Error error() const {
    switch (refused) {
      case SQLITE_FUNCTION: return Error(jet::kFail, "no such function: " + name);
      case SQLITE_READ:
        return Error(-2147217865, "The Microsoft Jet database engine cannot find the input table or query '" +
                                      name + "'.  Make sure it exists and that its name is spelled correctly.");
      case SQLITE_INSERT: case SQLITE_UPDATE: case SQLITE_DELETE: case SQLITE_CREATE_TABLE:
      case SQLITE_CREATE_INDEX: case SQLITE_CREATE_VIEW: case SQLITE_CREATE_TRIGGER:
      case SQLITE_CREATE_TEMP_TABLE: case SQLITE_CREATE_TEMP_INDEX: case SQLITE_CREATE_TEMP_VIEW:
      case SQLITE_CREATE_TEMP_TRIGGER: case SQLITE_CREATE_VTABLE: case SQLITE_DROP_TABLE:
      case SQLITE_DROP_INDEX: case SQLITE_DROP_VIEW: case SQLITE_DROP_TRIGGER: case SQLITE_DROP_TEMP_TABLE:
      case SQLITE_DROP_TEMP_INDEX: case SQLITE_DROP_TEMP_VIEW: case SQLITE_DROP_TEMP_TRIGGER:
      case SQLITE_DROP_VTABLE: case SQLITE_ALTER_TABLE: case SQLITE_REINDEX: case SQLITE_ANALYZE:
        return readOnly();
      default: return invalidStatement();  // pragma, attach, transactions, recursive queries, ...
    }
  }
};

// Whether the engine's statement is a select: its first word, past blanks and
// opening brackets.
bool startsWithSelect(const std::string& sql) {
  std::size_t i = 0;
  while (i < sql.size() && (std::isspace(static_cast<unsigned char>(sql[i])) || sql[i] == '(')) ++i;
  return sqlite3_strnicmp(sql.c_str() + i, "select", 6) == 0 &&
         (i + 6 >= sql.size() || !identChar(static_cast<unsigned char>(sql[i + 6])));
}

bool plainName(const char* s) {
  if (!s || !*s || !identStart(static_cast<unsigned char>(*s))) return false;
  for (; *s; ++s)
    if (!identChar(static_cast<unsigned char>(*s)) && *s != ' ') return false;
  return true;
}

Variant valueOf(sqlite3_stmt* st, int i, JetType decl) {
  return cellValue(st, i, sqlite3_column_type(st, i), decl);
}

}  // namespace

namespace {

// The names a statement compares with "=": "T.col" or "col". Texts in quotes
// and brackets are skipped.
std::vector<std::string> equalityOperands(const std::string& s, std::vector<std::string>& words) {
  std::vector<std::string> found;
  std::string last;  // the name just read, or ""
  const std::size_t n = s.size();
  for (std::size_t i = 0; i < n;) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == '\'' || c == '"') {
      std::size_t j = s.find(char(c), i + 1);
      i = j == std::string::npos ? n : j + 1;
      last.clear();
    } else if (identStart(c)) {
      std::size_t j = i;
      while (j < n && (identChar(static_cast<unsigned char>(s[j])) || s[j] == '.')) ++j;
      last = s.substr(i, j - i);
      words.push_back(last);
      i = j;
    } else if (c == '=') {
      bool plain = i > 0 && s[i - 1] != '<' && s[i - 1] != '>' && s[i - 1] != '!';
      if (plain && !last.empty()) found.push_back(last);
      last.clear();
      ++i;
    } else {
      if (!std::isspace(c)) last.clear();
      ++i;
    }
  }
  return found;
}

}  // namespace

void Database::indexForStatement(const std::string& statement) {
  std::vector<std::string> words;
  std::vector<std::string> operands = equalityOperands(statement, words);
  if (operands.empty()) return;
  std::vector<const TableInfo*> named;
  for (const auto& w : words)
    for (const auto& t : tables_)
      if (asciiLower(t.name) == asciiLower(w) && std::find(named.begin(), named.end(), &t) == named.end())
        named.push_back(&t);
  for (const auto& op : operands) {
    std::size_t dot = op.rfind('.');
    std::string column = dot == std::string::npos ? op : op.substr(dot + 1);
    std::string table = dot == std::string::npos ? "" : asciiLower(op.substr(0, dot));
    for (const TableInfo* t : named) {
      if (!table.empty() && asciiLower(t->name) != table) continue;
      for (const auto& c : t->columns)
        if (asciiLower(c.name) == asciiLower(column) && c.type != JetType::Memo && c.type != JetType::Ole &&
            c.type != JetType::Binary)
          ensureIndex(t->name, c.name);
    }
  }
}

namespace {

// The name by which a statement reaches a row's position in its table: the
// first of SQLite's three names that no table of the library uses for a
// column; "" when every one is taken.
std::string rowidOf(const std::vector<TableInfo>& tables) {
  for (const char* name : {"rowid", "_rowid_", "oid"}) {
    bool taken = false;
    for (const auto& t : tables)
      for (const auto& c : t.columns) taken = taken || asciiLower(c.name) == name;
    if (!taken) return name;
  }
  return "";
}

}  // namespace

SqliteStatement Database::prepareSelect(const std::string& statement, std::vector<std::string>& names,
                                       std::vector<JetType>& types) {
  // A column searched by "=" gets an index the first time: the outline runs one
  // query per node on its parent-link column, and the settings lookups search by
  // table name.
  indexForStatement(statement);
  std::vector<int> currencyItems;
  const std::string exact = currencyAggregates(
      statement,
      [this](const std::string& name) {
        for (const auto& t : tables_)
          for (const auto& c : t.columns)
            if (c.type == JetType::Currency && asciiLower(c.name) == asciiLower(name)) return true;
        return false;
      },
      currencyItems);
  std::string sql = settleOrder(translateJetSql(exact), rowidOf(tables_));
  sqlite3* const engine = db_.get();
  sqlite3_stmt* st = nullptr;
  const char* tail = nullptr;
  StatementGuard check;
  sqlite3_set_authorizer(engine, &StatementGuard::check, &check);
  const int prepared = sqlite3_prepare_v2(engine, sql.c_str(), int(sql.size()), &st, &tail);
  sqlite3_set_authorizer(engine, nullptr, nullptr);
  SqliteStatement owned(st);
  if (prepared != SQLITE_OK || !st)
    throw check.refused ? check.error()
          : st          ? statementError(engine, statement)
                        : (sqlite3_errcode(engine) == SQLITE_OK ? invalidStatement() : statementError(engine, statement));
  while (tail && std::isspace(static_cast<unsigned char>(*tail))) ++tail;
  if (tail && *tail && *tail != ';')
    throw Error(-2147217900, "Characters found after end of SQL statement.");
  if (!sqlite3_stmt_readonly(st)) throw readOnly();
  if (!startsWithSelect(sql)) throw invalidStatement();
  names.clear();
  const int n = sqlite3_column_count(st);
  types.assign(std::size_t(n), JetType::Unknown);
  std::vector<bool> qualified(std::size_t(n), false);
  int expr = 1000;
  for (int i = 0; i < n; ++i) {
    const char* name = sqlite3_column_name(st, i);
    const char* origin = sqlite3_column_origin_name(st, i);
    if (!origin && !plainName(name))
      names.push_back("Expr" + std::to_string(expr++));
    else
      names.push_back(name ? name : "");
    types[std::size_t(i)] = typeFromDecl(sqlite3_column_decltype(st, i));
    if (std::find(currencyItems.begin(), currencyItems.end(), i) != currencyItems.end())
      types[std::size_t(i)] = JetType::Currency;
  }
  // Two fields of the same name from different tables are named, as ADO names
  // them, by table and field ("CLProduct.Name", "Factory.Name").
  for (int i = 0; i < n; ++i) {
    const char* table = sqlite3_column_table_name(st, i);
    if (!table || !sqlite3_column_origin_name(st, i)) continue;
    for (int j = 0; j < n; ++j)
      if (j != i && asciiLower(names[std::size_t(j)]) == asciiLower(names[std::size_t(i)])) {
        const char* other = sqlite3_column_table_name(st, j);
        if (other && asciiLower(other) != asciiLower(table)) {
          qualified[std::size_t(i)] = true;
          break;
        }
      }
  }
  for (int i = 0; i < n; ++i)
    if (qualified[std::size_t(i)]) names[std::size_t(i)] = std::string(sqlite3_column_table_name(st, i)) + "." + names[std::size_t(i)];
  return owned;
}

std::vector<std::string> Database::forEachRow(const std::string& statement, const RowHandler& onRow) {
  return forEachRow(statement, NamesHandler(), onRow);
}

std::vector<std::string> Database::forEachRow(const std::string& statement, const NamesHandler& onNames,
                                              const RowHandler& onRow) {
  // A damaged cache entry met before the first row: once more, on the
  // library read afresh (the names are told once).
  bool told = false, handed = false;
  const NamesHandler names = [&](const std::vector<std::string>& n) {
    if (onNames && !told) onNames(n);
    told = true;
  };
  const RowHandler rows = [&](std::vector<Variant>& row) {
    handed = true;
    onRow(row);
  };
  for (int attempt = 0;; ++attempt) {
    try {
      return forEachRowOnce(statement, names, rows);
    } catch (const Error&) {
      if (handed || attempt > 0 || !reloadDamagedEntry()) throw;
    }
  }
}

std::vector<std::string> Database::forEachRowOnce(const std::string& statement, const NamesHandler& onNames,
                                                  const RowHandler& onRow) {
  std::vector<std::string> names;
  std::vector<JetType> types;
  const SqliteStatement owned = prepareSelect(statement, names, types);
  if (onNames) onNames(names);
  sqlite3_stmt* const st = owned.get();
  const int n = int(types.size());
  std::vector<Variant> row(static_cast<std::size_t>(n));
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    for (int i = 0; i < n; ++i) row[std::size_t(i)] = valueOf(st, i, types[std::size_t(i)]);
    onRow(row);
  }
  if (rc != SQLITE_DONE) throw statementError(db_.get(), statement);
  return names;
}

ResultSet Database::execute(const std::string& statement) {
  for (int attempt = 0;; ++attempt) {
    try {
      return executeOnce(statement);
    } catch (const Error&) {
      if (attempt > 0 || !reloadDamagedEntry()) throw;
    }
  }
}

ResultSet Database::executeOnce(const std::string& statement) {
  // The values go straight from the engine into the result's blocks.
  ResultSet rs;
  std::vector<JetType> types;
  const SqliteStatement owned = prepareSelect(statement, rs.names, types);
  sqlite3_stmt* const st = owned.get();
  const int n = int(types.size());
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    for (int i = 0; i < n; ++i) appendCell(rs.cells, st, i, sqlite3_column_type(st, i), types[std::size_t(i)]);
    ++rs.rows;
  }
  if (rc != SQLITE_DONE) throw statementError(db_.get(), statement);
  return rs;
}

}  // namespace ado
