#pragma once
// The import (internal to the provider): the tables the file reader hands over
// are created in the engine and their rows inserted, inside one transaction
// the caller opens and commits; then the file's indexes and the id and link
// columns' are made. Tells the import's progress (setImportProgress).
//
// Rows are inserted a batch at a time, by one statement of many rows (a
// statement run per row costs about as much as the row itself), and on a
// thread of their own (the Inserter) while the reader's next rows are taken
// in: the cells are copied into a chunk of rows as they come, a full chunk
// is handed over, and the engine is touched by the calling thread only once
// the chunks handed over are in (at a table's end, or to drop an index). The
// rows left at a table's end are inserted by the calling thread, those short
// of a batch one by one. An error of the inserting thread is thrown on the
// calling thread at its next hand-over or at the table's end.
//
// An index on one whole-number column is made before the rows come and kept
// while the column's values rise (as an id's do): the engine then adds each
// row at the index's end, for about half of what making it afterwards costs.
// Once a value is lower than the one before, the index is dropped and made
// with the others after the last row. Every index gets the name, the columns
// and the figures it would get made after the rows.
//
// One made after the rows on one whole-number column is made from the
// values the import kept as the rows came (while every value is a whole
// number of 32 bits): its entries (value, rowid) sorted here are written in
// their order into a table of the engine laid out as the index is (an index
// b-tree of (value, rowid) records), which is then named the index. That
// costs about half of what the engine's own sort and build of the index do.
// A column that had a Null or a value beyond 32 bits, and every other
// index, is made by the engine.
//
// The planner's figures (sqlite_stat1) of a table whose indexes are each on
// one whole-number column are made from what the import counted (rows, and
// the distinct values of each indexed column), exactly as ANALYZE would make
// them; the other tables are analysed by the engine.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/database/import_flight.h"
#include "platform/database/jet_database.h"
#include "platform/database/jet_reader.h"
#include "platform/database/sqlite_handles.h"

namespace ado {

// Adds the wall time of its scope to `sum` (Database::importTimes).
struct Timed {
  double& sum;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  ~Timed() { sum += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); }
};

// Rows taken in and not inserted yet: rows x columns cells, row after row.
struct RowChunk {
  std::vector<jet::Cell> cells;
  int rows = 0;
};

// Full chunks handed from the thread that takes rows in to a thread of the
// pipeline's own, which works them off one after another in the order they
// came. At most `chunks` are in flight (the one being filled included): a
// hand-over waits for one to come back. What the work throws ends the work
// (the chunks still waiting are dropped) and is thrown on the handing thread
// by its next hand-over or drain. The destructor drops what is waiting,
// tells the work to give up (its `abandoned` turns true, and `interrupt`, if
// any, is called while a chunk is being worked on: the work may be on a
// thread at the lowest priority, so what it still does is kept short) and
// joins the thread. While a hand-over or drain waits, `check` (if any) is
// called every millisecond: what it throws ends the wait, so that a stop of
// the handing thread is not held up by the work.
class ChunkPipeline {
 public:
  using Work = std::function<void(const RowChunk&, const std::atomic<bool>& abandoned)>;
  ChunkPipeline(Work work, int chunks, std::function<void()> interrupt = {}, std::function<void()> check = {});
  ~ChunkPipeline();
  ChunkPipeline(const ChunkPipeline&) = delete;
  ChunkPipeline& operator=(const ChunkPipeline&) = delete;

  // Takes a full chunk; gives back an emptied one (rows 0, cells as the work
  // left them) or a new one.
  std::unique_ptr<RowChunk> handOver(std::unique_ptr<RowChunk> full);
  // Waits until every chunk handed over is worked off.
  void drain();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

struct Database::Importer : jet::Sink {
  explicit Importer(Database& db);
  ~Importer() override;

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
    // While the index keeps the column's values (to write them in their
    // order), they are counted as it is written instead.
    int planned = -1;         // in planned_, while the table is copied
    bool skipped = false;     // rows not given to `values`
    std::optional<uint64_t> distinct;  // from the index written
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
  int chunkRows_ = 1;  // a whole number of batches
  std::unique_ptr<RowChunk> filling_;
  std::size_t fillingText_ = 0;  // bytes of text in filling_
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
    // The column's values as they came, offset to be unsigned (the value
    // of rowid r at r - 1). Kept while `kept`: from the first row when the
    // index is made after the rows, from its fall when it was rising.
    std::vector<uint32_t> values = {};
    bool kept = false;
    uint64_t distinct = 0;  // values written by writeIndex, each counted once
    bool written = false;   // by writeIndex
  };
  std::vector<PlannedIndex> planned_;

  // Inserts the full chunks. Last: ends (its thread joined) before the
  // statements it uses go.
  std::unique_ptr<ChunkPipeline> inserter_;

 private:
  static int stopAsked(void* importer);
  void endStops();
  // Throws ImportStopped (or ImportTakenOver) when the stop ended the
  // statement, otherwise Error for `why`.
  [[noreturn]] void fail(const std::string& why);
  void createTable(const TableInfo& info);
  void prepareInsert(const TableInfo& info);
  SqliteStatement prepareRows(const TableInfo& info, int rows);
  void bindRow(sqlite3_stmt* st, int first, const jet::Cell* cells);
  // Inserts a chunk's rows: whole batches by the statement of many rows, the
  // rest one by one.
  // Gives up between statements once `abandoned` is true.
  void insertRows(const RowChunk& chunk, const std::atomic<bool>& abandoned);
  // Waits until the chunks handed over are in; throws what inserting them threw.
  void drain();
  void planIndexes(const TableInfo& info);
  void followRising(PlannedIndex& index, const jet::Cell& cell);
  void keepEntry(PlannedIndex& index, const jet::Cell& cell);
  // Keeps the values of the rows so far (inserted, or in the chunk being
  // filled) of an index that stopped rising.
  void takeValuesSoFar(PlannedIndex& index);
  bool makeIndex(const TableInfo& info, const PlannedIndex& index);
  // Makes the index from its kept values (see above); false when its name
  // is taken.
  bool writeIndex(const TableInfo& info, PlannedIndex& index);
};

}  // namespace ado
