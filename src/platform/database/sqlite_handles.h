#pragma once
// Owning handles of the SQLite engine: a connection closes and a prepared
// statement is finalized when its owner goes, on every path out.
#include <memory>

struct sqlite3;
struct sqlite3_stmt;

namespace ado {

struct SqliteClose {
  void operator()(sqlite3* db) const;
};
struct SqliteFinalize {
  void operator()(sqlite3_stmt* st) const;
};

using SqliteConnection = std::unique_ptr<sqlite3, SqliteClose>;
using SqliteStatement = std::unique_ptr<sqlite3_stmt, SqliteFinalize>;

}  // namespace ado
