#pragma once
// The import (internal to the provider): the tables the file reader hands over
// are created in the engine and their rows inserted, inside one transaction
// the caller opens and commits; then the file's indexes and the id and link
// columns' are made. Tells the import's progress (setImportProgress).
//
// Rows are inserted a batch at a time, by one statement of many rows (a
// statement run per row costs about as much as the row itself): the cells
// are copied into the batch as they come and bound when it is full, and the
// rows left at a table's end are inserted one by one.
//
// An index on one whole-number column is made before the rows come and kept
// while the column's values rise (as an id's do): the engine then adds each
// row at the index's end, for about half of what making it afterwards costs.
// Once a value is lower than the one before, the index is dropped and made
// with the others after the last row. Every index gets the name, the columns
// and the figures it would get made after the rows.
//
// The planner's figures (sqlite_stat1) of a table whose indexes are each on
// one whole-number column are made from what the import counted (rows, and
// the distinct values of each indexed column), exactly as ANALYZE would make
// them; the other tables are analysed by the engine.
#include <cstdint>
#include <memory>
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
  // The planner's figures for every table copied (instead of ANALYZE).
  void writeStatistics();

  // The distinct values of one whole-number column (Null is one value, as
  // ANALYZE counts it).
  class DistinctValues;
  struct CountedIndex {
    int column = -1;                         // in the table's columns
    std::string index;                       // the index made on it
    std::shared_ptr<DistinctValues> values;  // counted while the rows came
  };
  struct TableFigures {
    std::string table;
    long rows = 0;
    bool counted = true;  // false: the engine analyses the table
    std::vector<CountedIndex> indexes;
  };

  Database& db_;
  const ImportProgress progress_;  // as it was when the copy began
  const ImportStops stop_;  // what ends the thread's import, if anything
  uint64_t total_ = 0, copied_ = 0;
  SqliteStatement insert_;      // one row
  SqliteStatement insertMany_;  // batchRows_ rows
  int batchRows_ = 1;
  std::vector<jet::Cell> batch_;  // the rows waiting, batchRows_ x columns
  int waiting_ = 0;
  std::vector<jet::IndexDef> indexes_;
  long rows_ = 0;
  std::vector<TableFigures> figures_;  // one per table, the last one filling

  // The indexes of the table being copied, in the order they are named.
  struct PlannedIndex {
    std::vector<int> columns;  // in the table's columns
    std::string name;
    bool made = false;    // exists now (made before the rows, still rising)
    bool rising = false;  // made before the rows: checked at every row
    bool seen = false;    // a value other than Null has come
    int64_t last = 0;     // the last value that came
  };
  std::vector<PlannedIndex> planned_;

 private:
  void createTable(const TableInfo& info);
  void prepareInsert(const TableInfo& info);
  SqliteStatement prepareRows(const TableInfo& info, int rows);
  void bindRow(sqlite3_stmt* st, int first, const jet::Cell* cells);
  // Inserts the rows waiting: a full batch by one statement, the rest one by one.
  void insertWaiting();
  void planIndexes(const TableInfo& info);
  void followRising(PlannedIndex& index, const jet::Cell& cell);
  bool makeIndex(const TableInfo& info, const PlannedIndex& index);
};

}  // namespace ado
