#pragma once
// The import (internal to the provider): the tables the file reader hands over
// are created in the engine and their rows inserted, inside one transaction
// the caller opens and commits; then the file's indexes and the id and link
// columns' are made. Tells the import's progress (setImportProgress).
#include <cstdint>
#include <string>
#include <vector>

#include "platform/database/import_flight.h"
#include "platform/database/jet_database.h"
#include "platform/database/jet_reader.h"
#include "platform/database/sqlite_handles.h"

namespace ado {

struct Database::Importer : jet::Sink {
  explicit Importer(Database& db);

  // Runs `sql` in the engine; throws Error when it fails.
  void exec(const std::string& sql);

  void beginTable(const jet::TableDef& t) override;
  void row(const std::vector<jet::Cell>& cells) override;
  void expectRows(uint64_t rows) override;
  void endTable() override;
  // All rows are in.
  void finished();

  Database& db_;
  const ImportProgress progress_;  // as it was when the copy began
  const ImportStops stop_;  // what ends the thread's import, if anything
  uint64_t total_ = 0, copied_ = 0;
  SqliteStatement insert_;
  std::vector<jet::IndexDef> indexes_;
  long rows_ = 0;
};

}  // namespace ado
