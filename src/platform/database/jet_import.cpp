#include "platform/database/jet_import.h"

#include <pthread.h>
#include <sched.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <limits>
#include <mutex>
#include <thread>

#include "common/text_case.h"
#include "platform/database/jet_types.h"

namespace ado {

using common::asciiLower;

namespace {

ImportProgress& importProgress() {
  static ImportProgress observer;
  return observer;
}

}  // namespace

void setImportProgress(ImportProgress observer) { importProgress() = std::move(observer); }

// The distinct values of a column. While each value is at least the one
// before (an id, or an order with ties) they are only counted, a value once
// however often it comes; once one is smaller, those counted so far go into
// an open-addressing set (grown at half full), which takes the rest. Only the
// first values of a rising run are kept for that; a column that stops rising
// later is left to the engine (known() false). Null counts as one value of
// its own.
class Database::Importer::DistinctValues {
 public:
  void add(const jet::Cell& c) {
    if (c.kind != jet::Cell::Int) {
      null_ = true;
      return;
    }
    if (rising_) {
      if (risen_ == 0 || c.i > last_) {
        last_ = c.i;
        if (risen_++ < kKept) first_.push_back(c.i);
        return;
      }
      if (c.i == last_) return;  // counted already
      rising_ = false;
      if (risen_ > kKept) {
        lost_ = true;
        return;
      }
      for (int64_t v : first_) insert(uint64_t(v));
      std::vector<int64_t>().swap(first_);
    }
    if (!lost_) insert(uint64_t(c.i));
  }
  bool known() const { return !lost_; }
  void forget() { lost_ = true; }
  uint64_t count() const { return (rising_ ? risen_ : count_ + (empty_ ? 1 : 0)) + (null_ ? 1 : 0); }

 private:
  static constexpr std::size_t kKept = 4096;
  static constexpr uint64_t kEmpty = std::numeric_limits<uint64_t>::max();
  void insert(uint64_t v) {
    if (v == kEmpty) {
      empty_ = true;
      return;
    }
    if ((count_ + 1) * 2 > slots_.size()) grow();
    if (place(v)) ++count_;
  }
  bool place(uint64_t v) {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = std::size_t((v * 0x9E3779B97F4A7C15ull) >> 20) & mask;; i = (i + 1) & mask) {
      if (slots_[i] == v) return false;
      if (slots_[i] == kEmpty) {
        slots_[i] = v;
        return true;
      }
    }
  }
  void grow() {
    std::vector<uint64_t> old(std::max<std::size_t>(1024, slots_.size() * 2), kEmpty);
    old.swap(slots_);
    for (uint64_t v : old)
      if (v != kEmpty) place(v);
  }
  bool rising_ = true, lost_ = false, null_ = false, empty_ = false;
  int64_t last_ = 0;
  uint64_t risen_ = 0;
  std::vector<int64_t> first_;
  std::vector<uint64_t> slots_;
  uint64_t count_ = 0;
};

namespace {

// Jet types whose cells are whole numbers (or Null), bound as they come.
bool wholeNumbers(JetType t) {
  return t == JetType::Long || t == JetType::Integer || t == JetType::Byte || t == JetType::Boolean;
}

// The columns endTable indexes one by one: the file's single-column indexes,
// then the id and link columns.
bool indexedAsIdOrLink(const ColumnInfo& c) {
  return endsWithId(c.name) && c.type != JetType::Memo && c.type != JetType::Ole && c.type != JetType::Binary;
}

}  // namespace

// A statement of an import that can be stopped (index, figures, rows) is
// ended by the engine once the stop is asked, instead of running to its end.
int Database::Importer::stopAsked(void* importer) {
  return importStopAsked(static_cast<Importer*>(importer)->stop_);
}

Database::Importer::Importer(Database& db) : db_(db), progress_(importProgress()), stop_(importStops()) {
  if (stop_.stop || stop_.givenWay) sqlite3_progress_handler(db_.db_.get(), 1000, &Importer::stopAsked, this);
}

void Database::Importer::endStops() { sqlite3_progress_handler(db_.db_.get(), 0, nullptr, nullptr); }

void Database::Importer::fail(const std::string& why) {
  checkImportStop(stop_);  // a statement the stop ended
  throw Error(jet::kFail, "Cannot copy the database into memory: " + why);
}

void Database::Importer::exec(const std::string& sql) {
  char* err = nullptr;
  if (sqlite3_exec(db_.db_.get(), sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
    std::string msg = err ? err : "?";
    sqlite3_free(err);
    fail(msg);
  }
}

void Database::Importer::createTable(const TableInfo& info) {
  std::string sql = "CREATE TABLE " + quoteIdent(info.name) + " (";
  for (std::size_t i = 0; i < info.columns.size(); ++i) {
    if (i) sql += ", ";
    sql += quoteIdent(info.columns[i].name) + " " + declaredType(info.columns[i].type);
  }
  exec(sql + ")");
}

// Rows in one statement: as many as the engine's limit on parameters allows,
// at most this many (beyond it the gain is gone).
constexpr int kBatchRows = 64;
// Cells in a chunk handed to the inserting thread; chunks in flight at most
// (one filling, the others waiting or being inserted).
constexpr int kChunkCells = 16384;
constexpr int kChunks = 3;
constexpr std::size_t kChunkTextBytes = std::size_t(1) << 20;
constexpr std::size_t kKeptTextRoom = 4096;  // a cell's room kept whatever its next text needs

SqliteStatement Database::Importer::prepareRows(const TableInfo& info, int rows) {
  std::string one = "(";
  for (std::size_t i = 0; i < info.columns.size(); ++i) one += i ? ",?" : "?";
  one += ")";
  std::string ins = "INSERT INTO " + quoteIdent(info.name) + " VALUES ";
  for (int r = 0; r < rows; ++r) ins += (r ? "," : "") + one;
  sqlite3_stmt* st = nullptr;
  const int prepared = sqlite3_prepare_v2(db_.db_.get(), ins.c_str(), int(ins.size()), &st, nullptr);
  SqliteStatement held(st);
  if (prepared != SQLITE_OK)
    throw Error(jet::kFail, std::string("Cannot copy the database into memory: ") + sqlite3_errmsg(db_.db_.get()));
  return held;
}

void Database::Importer::prepareInsert(const TableInfo& info) {
  insert_ = prepareRows(info, 1);
  const int columns = int(info.columns.size());
  const int parameters = sqlite3_limit(db_.db_.get(), SQLITE_LIMIT_VARIABLE_NUMBER, -1);
  batchRows_ = std::clamp(columns > 0 ? parameters / columns : 1, 1, kBatchRows);
  insertMany_ = batchRows_ > 1 ? prepareRows(info, batchRows_) : SqliteStatement();
  const int perChunk = std::max(1, kChunkCells / std::max(columns, 1));
  chunkRows_ = std::max(batchRows_, perChunk / batchRows_ * batchRows_);
  if (!filling_) filling_ = std::make_unique<RowChunk>();
  filling_->cells.resize(std::size_t(chunkRows_) * info.columns.size());
  filling_->rows = 0;
  fillingText_ = 0;
}

void Database::Importer::bindRow(sqlite3_stmt* st, int first, const jet::Cell* cells) {
  const auto& cols = db_.tables_.back().columns;
  for (std::size_t i = 0; i < cols.size(); ++i) {
    const jet::Cell& c = cells[i];
    const int k = first + int(i);
    switch (c.kind) {
      case jet::Cell::Int:
        if (cols[i].type == JetType::Currency)
          bindCurrency(st, k, c.i);
        else
          sqlite3_bind_int64(st, k, c.i);
        break;
      case jet::Cell::Real: sqlite3_bind_double(st, k, c.d); break;
      case jet::Cell::Text: sqlite3_bind_text(st, k, c.s.data(), int(c.s.size()), SQLITE_STATIC); break;
      default: sqlite3_bind_null(st, k); break;
    }
  }
}

void Database::Importer::insertRows(const RowChunk& chunk, const std::atomic<bool>& abandoned) {
  const std::size_t columns = db_.tables_.back().columns.size();
  auto run = [&](sqlite3_stmt* st) {
    if (sqlite3_step(st) != SQLITE_DONE) {
      const std::string why = sqlite3_errmsg(db_.db_.get());
      sqlite3_reset(st);
      fail(why);
    }
    sqlite3_reset(st);
  };
  int r = 0;
  if (insertMany_)
    for (; r + batchRows_ <= chunk.rows; r += batchRows_) {
      if (abandoned.load(std::memory_order_relaxed)) return;
      for (int k = 0; k < batchRows_; ++k)
        bindRow(insertMany_.get(), 1 + k * int(columns), &chunk.cells[std::size_t(r + k) * columns]);
      run(insertMany_.get());
    }
  for (; r < chunk.rows; ++r) {
    if (abandoned.load(std::memory_order_relaxed)) return;
    bindRow(insert_.get(), 1, &chunk.cells[std::size_t(r) * columns]);
    run(insert_.get());
  }
}

struct ChunkPipeline::State {
  Work work;
  std::function<void()> interrupt, check;
  std::atomic<bool> abandoned{false};
  int chunks = 2;
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::unique_ptr<RowChunk>> waiting;
  std::vector<std::unique_ptr<RowChunk>> spare;
  int made = 1;  // chunks in flight or spare, the one being filled included
  bool busy = false, stop = false;
  std::exception_ptr error;
  std::thread thread;

  // Waits until `ready`, checking every millisecond when there is a check.
  template <class Ready>
  void waitUntil(std::unique_lock<std::mutex>& hold, Ready ready) {
    while (!ready()) {
      if (!check) {
        changed.wait(hold);
        continue;
      }
      check();
      changed.wait_for(hold, std::chrono::milliseconds(1));
    }
  }

  void run() {
    std::unique_lock<std::mutex> hold(mutex);
    for (;;) {
      changed.wait(hold, [&] { return stop || !waiting.empty(); });
      if (stop) return;
      std::unique_ptr<RowChunk> chunk = std::move(waiting.front());
      waiting.pop_front();
      busy = true;
      hold.unlock();
      std::exception_ptr failed;
      try {
        work(*chunk, abandoned);
      } catch (...) {
        failed = std::current_exception();
      }
      chunk->rows = 0;
      hold.lock();
      busy = false;
      if (failed && !error) error = failed;
      if (error) {
        for (auto& c : waiting) spare.push_back(std::move(c));
        waiting.clear();
      }
      spare.push_back(std::move(chunk));
      changed.notify_all();
    }
  }
};

ChunkPipeline::ChunkPipeline(Work work, int chunks, std::function<void()> interrupt, std::function<void()> check)
    : state_(std::make_unique<State>()) {
  state_->work = std::move(work);
  state_->interrupt = std::move(interrupt);
  state_->check = std::move(check);
  state_->chunks = std::max(chunks, 2);
  state_->thread = std::thread([s = state_.get()] { s->run(); });
}

namespace {

// A thread of the idle class (a background import's) may get no processor
// while anything else runs; one that only has to give up is moved to the
// normal class, keeping its niceness, so that it ends soon.
void leaveIdleClass(std::thread& t) {
#ifdef SCHED_IDLE
  int policy = 0;
  sched_param param{};
  if (pthread_getschedparam(t.native_handle(), &policy, &param) == 0 && policy == SCHED_IDLE) {
    param.sched_priority = 0;
    pthread_setschedparam(t.native_handle(), SCHED_OTHER, &param);
  }
#else
  (void)t;
#endif
}

}  // namespace

ChunkPipeline::~ChunkPipeline() {
  state_->abandoned = true;
  {
    const std::lock_guard<std::mutex> hold(state_->mutex);
    state_->stop = true;
    if (state_->busy) {
      if (state_->interrupt) state_->interrupt();
      leaveIdleClass(state_->thread);
    }
  }
  state_->changed.notify_all();
  state_->thread.join();
}

std::unique_ptr<RowChunk> ChunkPipeline::handOver(std::unique_ptr<RowChunk> full) {
  State& s = *state_;
  std::unique_lock<std::mutex> hold(s.mutex);
  if (s.error) std::rethrow_exception(s.error);
  s.waiting.push_back(std::move(full));
  s.changed.notify_all();
  if (s.spare.empty() && s.made < s.chunks) {
    ++s.made;
    return std::make_unique<RowChunk>();
  }
  s.waitUntil(hold, [&] { return !s.spare.empty() || s.error; });
  if (s.error) std::rethrow_exception(s.error);
  std::unique_ptr<RowChunk> next = std::move(s.spare.back());
  s.spare.pop_back();
  return next;
}

void ChunkPipeline::drain() {
  State& s = *state_;
  std::unique_lock<std::mutex> hold(s.mutex);
  s.waitUntil(hold, [&] { return (s.waiting.empty() && !s.busy) || s.error; });
  if (s.error) std::rethrow_exception(s.error);
}

Database::Importer::~Importer() {
  inserter_.reset();  // before the engine is told to stop asking: it may be running a statement
  endStops();
}

void Database::Importer::drain() {
  if (!inserter_) return;
  Timed t{db_.importTimes_.inserts};
  inserter_->drain();
}

void Database::Importer::planIndexes(const TableInfo& info) {
  // The file's own indexes, then the id and link columns (…ID), which the
  // outline's one-query-per-node lookups and the joins search by; a column
  // gets one index of its own however often it is named.
  planned_.clear();
  auto single = [&](int column) {
    for (const PlannedIndex& p : planned_)
      if (p.columns.size() == 1 && p.columns[0] == column) return;
    planned_.push_back({{column}, ""});
  };
  for (const auto& ix : indexes_) {
    if (ix.columns.size() == 1)
      single(ix.columns[0]);
    else
      planned_.push_back({ix.columns, ""});
  }
  for (std::size_t i = 0; i < info.columns.size(); ++i)
    if (indexedAsIdOrLink(info.columns[i])) single(int(i));
  for (PlannedIndex& p : planned_) {
    p.name = "ix" + std::to_string(++db_.indexCount_) + "_" + info.name;
    if (p.columns.size() == 1 && wholeNumbers(info.columns[std::size_t(p.columns[0])].type)) {
      p.made = p.rising = makeIndex(info, p);
      p.kept = !p.made;  // a rising one's are taken once they fall back
    }
  }
}

namespace {

std::string indexStatement(const std::string& table, const std::vector<std::string>& columns,
                           const std::string& index) {
  std::string cols;
  for (const std::string& c : columns) {
    if (!cols.empty()) cols += ",";
    cols += quoteIdent(c);
  }
  return "CREATE INDEX " + quoteIdent(index) + " ON " + quoteIdent(table) + " (" + cols + ")";
}

// The rowids of kept index values (the value of rowid r at r - 1) in the
// index's order, by value and then rowid: a stable radix sort of the rowids
// by their values, 16 bits at a time. A digit every value shares is skipped
// (the high one, as a rule: ids and links are small), so that the order is
// then made at once, beside the values alone.
std::vector<uint32_t> indexOrder(const std::vector<uint32_t>& values) {
  const std::size_t n = values.size();
  std::vector<int> shifts;
  for (int shift : {0, 16}) {
    const uint32_t first = n ? (values[0] >> shift) & 0xFFFF : 0;
    if (std::any_of(values.begin(), values.end(), [&](uint32_t v) { return ((v >> shift) & 0xFFFF) != first; }))
      shifts.push_back(shift);
  }
  std::vector<uint32_t> order, from;
  std::vector<std::size_t> start(65537);
  for (std::size_t pass = 0; pass < shifts.size(); ++pass) {
    const int shift = shifts[pass];
    std::fill(start.begin(), start.end(), 0);
    for (uint32_t v : values) ++start[((v >> shift) & 0xFFFF) + 1];
    for (std::size_t d = 1; d < start.size(); ++d) start[d] += start[d - 1];
    order.swap(from);
    order.resize(n);
    if (pass == 0) {  // from the rows' own order
      for (std::size_t i = 0; i < n; ++i) order[start[(values[i] >> shift) & 0xFFFF]++] = uint32_t(i + 1);
    } else {
      for (uint32_t rowid : from) order[start[(values[rowid - 1] >> shift) & 0xFFFF]++] = rowid;
    }
  }
  std::vector<uint32_t>().swap(from);
  if (shifts.empty()) {
    order.resize(n);
    for (std::size_t i = 0; i < n; ++i) order[i] = uint32_t(i + 1);
  }
  return order;
}

constexpr int kEntryBatch = 256;  // index entries written by one statement

}  // namespace

bool Database::Importer::makeIndex(const TableInfo& info, const PlannedIndex& index) {
  std::vector<std::string> cols;
  for (int c : index.columns) cols.push_back(info.columns[std::size_t(c)].name);
  const std::string sql = indexStatement(info.name, cols, index.name);
  if (sqlite3_exec(db_.db_.get(), sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK) return true;
  checkImportStop(stop_);  // ended by the stop, not failed
  return false;
}

void Database::Importer::keepEntry(PlannedIndex& index, const jet::Cell& cell) {
  constexpr int64_t low = std::numeric_limits<int32_t>::min(), high = std::numeric_limits<int32_t>::max();
  // The rows are inserted in order, numbered from 1: a row's rowid is its
  // value's place plus one.
  if (cell.kind != jet::Cell::Int || cell.i < low || cell.i > high || index.values.size() >= UINT32_MAX - 1) {
    index.kept = false;
    std::vector<uint32_t>().swap(index.values);
    return;
  }
  index.values.push_back(uint32_t(cell.i - low));
}

bool Database::Importer::writeIndex(const TableInfo& info, PlannedIndex& index) {
  sqlite3* engine = db_.db_.get();
  // An index b-tree of (value, rowid) records: what the index on the
  // column holds (its column's values are whole numbers, kept as such).
  // Not made when the name is taken (as the index itself would not be).
  const std::string table = "CREATE TABLE " + quoteIdent(index.name) +
                            " (k INTEGER NOT NULL, r INTEGER NOT NULL, PRIMARY KEY (k, r)) WITHOUT ROWID";
  if (sqlite3_exec(engine, table.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
    checkImportStop(stop_);
    return false;
  }
  const std::vector<uint32_t> order = indexOrder(index.values);
  const int parameters = sqlite3_limit(engine, SQLITE_LIMIT_VARIABLE_NUMBER, -1);
  const int batch = std::clamp(parameters / 2, 1, kEntryBatch);
  TableInfo entries;  // the inserts see its name and its two columns
  entries.name = index.name;
  entries.columns.resize(2);
  const SqliteStatement many = prepareRows(entries, batch), one = prepareRows(entries, 1);
  constexpr int64_t low = std::numeric_limits<int32_t>::min();
  uint64_t distinct = 0;
  for (std::size_t at = 0; at < order.size();) {
    sqlite3_stmt* st = order.size() - at >= std::size_t(batch) ? many.get() : one.get();
    const int n = st == many.get() ? batch : 1;
    for (int i = 0; i < n; ++i, ++at) {
      const uint32_t rowid = order[at];
      if (at == 0 || index.values[rowid - 1] != index.values[order[at - 1] - 1]) ++distinct;
      sqlite3_bind_int64(st, 2 * i + 1, int64_t(index.values[rowid - 1]) + low);
      sqlite3_bind_int64(st, 2 * i + 2, rowid);
    }
    const int rc = sqlite3_step(st);
    sqlite3_reset(st);
    if (rc != SQLITE_DONE) fail(sqlite3_errmsg(engine));
  }
  std::vector<uint32_t>().swap(index.values);
  // Named the index it is laid out as; the engine reads its schema again.
  exec("PRAGMA writable_schema=ON");
  sqlite3_stmt* st = nullptr;
  const int prepared = sqlite3_prepare_v2(
      engine, "UPDATE sqlite_schema SET type='index', tbl_name=?1, sql=?2 WHERE type='table' AND name=?3", -1, &st,
      nullptr);
  const SqliteStatement rename(st);
  if (prepared != SQLITE_OK) fail(sqlite3_errmsg(engine));
  const std::string sql = indexStatement(info.name, {info.columns[std::size_t(index.columns[0])].name}, index.name);
  sqlite3_bind_text(st, 1, info.name.c_str(), int(info.name.size()), SQLITE_STATIC);
  sqlite3_bind_text(st, 2, sql.c_str(), int(sql.size()), SQLITE_STATIC);
  sqlite3_bind_text(st, 3, index.name.c_str(), int(index.name.size()), SQLITE_STATIC);
  if (sqlite3_step(st) != SQLITE_DONE || sqlite3_changes(engine) != 1) fail(sqlite3_errmsg(engine));
  exec("PRAGMA writable_schema=RESET");
  index.distinct = distinct;
  index.written = true;
  return true;
}

// Null sorts before every number, so Nulls may only lead.
void Database::Importer::followRising(PlannedIndex& index, const jet::Cell& cell) {
  bool rises = false;
  if (cell.kind == jet::Cell::Null) {
    rises = !index.seen;
  } else if (cell.kind == jet::Cell::Int) {
    rises = !index.seen || cell.i >= index.last;
    index.seen = true;
    index.last = cell.i;
  }
  if (rises) return;
  index.rising = index.made = false;
  drain();
  exec("DROP INDEX " + quoteIdent(index.name));
  takeValuesSoFar(index);
  if (index.kept) keepEntry(index, cell);
}

void Database::Importer::takeValuesSoFar(PlannedIndex& index) {
  const TableInfo& info = db_.tables_.back();
  const std::size_t column = std::size_t(index.columns[0]);
  index.kept = true;
  index.values.clear();
  // The rows inserted, in their order...
  sqlite3* engine = db_.db_.get();
  const std::string sql =
      "SELECT " + quoteIdent(info.columns[column].name) + " FROM " + quoteIdent(info.name) + " ORDER BY rowid";
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(engine, sql.c_str(), int(sql.size()), &st, nullptr) != SQLITE_OK) fail(sqlite3_errmsg(engine));
  const SqliteStatement held(st);
  int rc = SQLITE_ROW;
  while (index.kept && (rc = sqlite3_step(st)) == SQLITE_ROW) {
    jet::Cell c;
    if (sqlite3_column_type(st, 0) == SQLITE_INTEGER) {
      c.kind = jet::Cell::Int;
      c.i = sqlite3_column_int64(st, 0);
    }
    keepEntry(index, c);
  }
  if (index.kept && rc != SQLITE_DONE) fail(sqlite3_errmsg(engine));
  // ...then those of the chunk being filled.
  const std::size_t columns = info.columns.size();
  for (int r = 0; index.kept && r < filling_->rows; ++r)
    keepEntry(index, filling_->cells[std::size_t(r) * columns + column]);
}

void Database::Importer::beginTable(const jet::TableDef& t) {
  TableInfo info = t.info;
  // Two tables whose names differ only in case cannot both be kept.
  for (const auto& other : db_.tables_)
    if (asciiLower(other.name) == asciiLower(info.name)) info.name += "_" + std::to_string(db_.tables_.size());
  createTable(info);
  indexes_ = t.indexes;
  planIndexes(info);
  prepareInsert(info);
  rows_ = 0;

  // What the planner's figures will be made of: the distinct values of each
  // column that gets an index of its own.
  TableFigures figures;
  figures.table = info.name;
  std::vector<int> single;
  for (const auto& ix : indexes_) {
    if (ix.columns.size() == 1)
      single.push_back(ix.columns[0]);
    else
      figures.counted = false;
  }
  for (std::size_t i = 0; i < info.columns.size(); ++i)
    if (indexedAsIdOrLink(info.columns[i])) single.push_back(int(i));
  for (int c : single) {
    if (std::any_of(figures.indexes.begin(), figures.indexes.end(),
                    [c](const CountedIndex& x) { return x.column == c; }))
      continue;
    if (!wholeNumbers(info.columns[std::size_t(c)].type)) figures.counted = false;
    CountedIndex counted;
    counted.column = c;
    counted.values = std::make_shared<DistinctValues>();
    for (std::size_t k = 0; k < planned_.size(); ++k)
      if (planned_[k].columns.size() == 1 && planned_[k].columns[0] == c) counted.planned = int(k);
    figures.indexes.push_back(std::move(counted));
  }
  if (!figures.counted) figures.indexes.clear();
  figures_.push_back(std::move(figures));
  db_.tables_.push_back(std::move(info));
}

void Database::Importer::row(const std::vector<jet::Cell>& cells) {
  checkImportStop(stop_);
  static const jet::Cell missing;  // a cell the row lacks
  for (CountedIndex& c : figures_.back().indexes) {
    if (c.planned >= 0 && planned_[std::size_t(c.planned)].kept) {
      c.skipped = true;  // counted as its index is written
      continue;
    }
    c.values->add(std::size_t(c.column) < cells.size() ? cells[std::size_t(c.column)] : missing);
  }
  for (PlannedIndex& p : planned_) {
    if (!p.kept && !p.rising) continue;
    const std::size_t c = std::size_t(p.columns[0]);
    const jet::Cell& cell = c < cells.size() ? cells[c] : missing;
    if (p.kept) keepEntry(p, cell);
    if (p.rising) followRising(p, cell);
  }
  // Into the chunk (a cell the row lacks is Null); the strings keep their
  // room from one chunk to the next unless it is far more than the text
  // needs. A chunk is handed over once full, or once its texts come to
  // kChunkTextBytes, so that what is in flight stays small whatever the
  // texts are.
  const std::size_t columns = db_.tables_.back().columns.size();
  jet::Cell* slot = &filling_->cells[std::size_t(filling_->rows) * columns];
  for (std::size_t i = 0; i < columns; ++i) {
    if (i >= cells.size()) {
      slot[i].kind = jet::Cell::Null;
      continue;
    }
    const jet::Cell& c = cells[i];
    slot[i].kind = c.kind;
    slot[i].i = c.i;
    slot[i].d = c.d;
    if (c.kind != jet::Cell::Text) continue;
    std::string& s = slot[i].s;
    if (s.capacity() > kKeptTextRoom && s.capacity() / 4 > c.s.size())
      std::string(c.s).swap(s);
    else
      s.assign(c.s);
    fillingText_ += c.s.size();
  }
  if (++filling_->rows == chunkRows_ || fillingText_ >= kChunkTextBytes) {
    fillingText_ = 0;
    if (!inserter_)
      inserter_ = std::make_unique<ChunkPipeline>(
          [this](const RowChunk& c, const std::atomic<bool>& abandoned) { insertRows(c, abandoned); }, kChunks,
          [engine = db_.db_.get()] { sqlite3_interrupt(engine); }, [this] { checkImportStop(stop_); });
    {
      Timed t{db_.importTimes_.inserts};
      filling_ = inserter_->handOver(std::move(filling_));
    }
    filling_->cells.resize(std::size_t(chunkRows_) * columns);
  }
  ++rows_;
  if (progress_ && ++copied_ % 4096 == 0) progress_(db_.path_, copied_, std::max(total_, copied_));
}

void Database::Importer::expectRows(uint64_t rows) {
  total_ = rows;
  if (progress_) progress_(db_.path_, 0, total_);
}

void Database::Importer::finished() {
  if (progress_) progress_(db_.path_, copied_, copied_);
}

void Database::Importer::endTable() {
  drain();
  const std::atomic<bool> goOn{false};
  {
    Timed t{db_.importTimes_.inserts};
    insertRows(*filling_, goOn);
  }
  filling_->rows = 0;
  insert_.reset();
  insertMany_.reset();
  TableInfo& info = db_.tables_.back();
  info.rowCount = rows_;
  TableFigures& figures = figures_.back();
  figures.rows = rows_;
  // The indexes not made yet; those on one column are kept as ensureIndex
  // keeps the ones it makes.
  Timed indexing{db_.importTimes_.indexes};
  for (PlannedIndex& p : planned_) {
    if (!p.made) {
      if (p.columns.size() > 1) {
        if (!makeIndex(info, p))
          throw Error(jet::kFail, std::string("Cannot copy the database into memory: ") +
                                      sqlite3_errmsg(db_.db_.get()));
        continue;
      }
      if (!(p.kept && writeIndex(info, p)) && !makeIndex(info, p)) {
        figures.counted = false;
        continue;
      }
    }
    std::vector<uint32_t>().swap(p.values);
    if (p.columns.size() > 1) continue;
    const std::string& column = info.columns[std::size_t(p.columns[0])].name;
    db_.indexed_.push_back(indexKey(info.name, column));
    for (CountedIndex& c : figures.indexes)
      if (c.column == p.columns[0] && c.index.empty()) {
        c.index = p.name;
        if (p.written) c.distinct = p.distinct;
      }
  }
  planned_.clear();
  for (CountedIndex& c : figures.indexes) {
    c.planned = -1;
    // Rows left uncounted for an index that was not written from its values
    // after all: the engine counts them.
    if (c.skipped && !c.distinct) c.values->forget();
  }
  for (const CountedIndex& c : figures.indexes)
    if (c.index.empty()) figures.counted = false;
}

void Database::Importer::writeStatistics() {
  // ANALYZE's own rule for sqlite_stat1: the rows, then the rows per distinct
  // value, rounded down (a column nearly unique counts as unique); a table
  // without an index has its rows alone, an empty table nothing. Every index
  // is marked "unordered" (Database::analyze). An index whose values were not
  // all counted is analysed by the engine alone.
  exec("ANALYZE sqlite_schema");
  sqlite3* engine = db_.db_.get();
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(engine, "INSERT INTO sqlite_stat1(tbl, idx, stat) VALUES(?1, ?2, ?3)", -1, &st, nullptr) !=
      SQLITE_OK)
    throw Error(jet::kFail, std::string("Cannot copy the database into memory: ") + sqlite3_errmsg(engine));
  const SqliteStatement held(st);
  auto put = [&](const std::string& table, const std::string* index, const std::string& stat) {
    sqlite3_bind_text(st, 1, table.c_str(), int(table.size()), SQLITE_TRANSIENT);
    if (index)
      sqlite3_bind_text(st, 2, index->c_str(), int(index->size()), SQLITE_TRANSIENT);
    else
      sqlite3_bind_null(st, 2);
    sqlite3_bind_text(st, 3, stat.c_str(), int(stat.size()), SQLITE_TRANSIENT);
    const int rc = sqlite3_step(st);
    if (rc != SQLITE_DONE) {
      const std::string why = sqlite3_errmsg(engine);
      sqlite3_reset(st);
      fail(why);
    }
    sqlite3_reset(st);
  };
  for (const TableFigures& t : figures_) {
    if (!t.counted || t.rows <= 0) {
      exec("ANALYZE " + quoteIdent(t.table));
      continue;
    }
    const uint64_t rows = uint64_t(t.rows);
    if (t.indexes.empty()) put(t.table, nullptr, std::to_string(rows));
    for (const CountedIndex& c : t.indexes) {
      if (!c.distinct && !c.values->known()) {
        exec("ANALYZE " + quoteIdent(c.index));
        continue;
      }
      const uint64_t distinct = c.distinct ? *c.distinct : c.values->count();
      uint64_t perValue = (rows + distinct - 1) / distinct;
      if (perValue == 2 && rows * 10 <= distinct * 11) perValue = 1;
      put(t.table, &c.index, std::to_string(rows) + " " + std::to_string(perValue) + " unordered");
    }
  }
  exec("UPDATE sqlite_stat1 SET stat = stat || ' unordered' WHERE idx IS NOT NULL AND stat NOT LIKE '% unordered'; "
       "ANALYZE sqlite_schema");
  db_.analyzed_ = true;
  endStops();  // what follows the import (the cache entry) is not ended by the engine
}

}  // namespace ado
