// The import's own figures for the planner: what it writes into sqlite_stat1
// from the rows it counted is, row for row, what ANALYZE writes for the same
// copy (plus the "unordered" mark every index carries).
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "fixtures.h"
#include "platform/database/jet_database.h"
#include "platform/database/jet_import.h"
#include "platform/database/library_cache.h"
#include "support/cache_home.h"

namespace {

using Figures = std::set<std::tuple<std::string, std::string, std::string>>;

Figures figuresOf(sqlite3* engine) {
  Figures out;
  sqlite3_stmt* st = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(engine, "SELECT tbl, coalesce(idx, '-'), stat FROM sqlite_stat1", -1, &st, nullptr),
            SQLITE_OK);
  while (sqlite3_step(st) == SQLITE_ROW)
    out.emplace(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)),
                reinterpret_cast<const char*>(sqlite3_column_text(st, 1)),
                reinterpret_cast<const char*>(sqlite3_column_text(st, 2)));
  sqlite3_finalize(st);
  return out;
}

// Tables of every shape the figures are made for: values repeated, Null,
// -1 (the links of the top level), a column nearly but not quite unique, a
// whole-number column of each width, a text id (analysed by the engine), an
// empty table, one without any index, and values that rise and fall back.
jetwrite::Database shapes() {
  jetwrite::Database db;
  db.password = "";
  jetwrite::Table items{"Item",
                        {{"ID", fixtures::ColumnType::Long},
                         {"GroupID", fixtures::ColumnType::Long},
                         {"ParentID", fixtures::ColumnType::Long},
                         {"NearID", fixtures::ColumnType::Long},
                         {"KindID", fixtures::ColumnType::Byte},
                         {"SizeID", fixtures::ColumnType::Integer},
                         {"ShownID", fixtures::ColumnType::YesNo},
                         {"Name", fixtures::ColumnType::Text, 50}},
                        {}};
  for (int i = 0; i < 100; ++i) {
    const auto maybe = [&](int every, int value) -> jetwrite::Value {
      if (i % every == 0) return std::nullopt;
      return std::to_string(value);
    };
    items.rows.push_back({std::to_string(i * 3), maybe(11, i % 7), i % 4 == 0 ? "-1" : std::to_string(i / 2),
                          std::to_string(i < 92 ? i : 3), std::to_string(i % 3), maybe(5, i % 9 - 4),
                          i % 6 == 0 ? "true" : "false", "n" + std::to_string(i)});
  }
  jetwrite::Table notes{"Note", {{"NoteID", fixtures::ColumnType::Text, 20}, {"Body", fixtures::ColumnType::Memo}}, {}};
  for (int i = 0; i < 30; ++i) notes.rows.push_back({"k" + std::to_string(i % 12), "b"});
  jetwrite::Table empty{"Empty", {{"ID", fixtures::ColumnType::Long}, {"LinkID", fixtures::ColumnType::Long}}, {}};
  jetwrite::Table plain{"Plain", {{"Name", fixtures::ColumnType::Text, 20}}, {{"a"}, {"b"}, {"c"}}};
  jetwrite::Table one{"One", {{"ID", fixtures::ColumnType::Long}}, {{"7"}}};
  // Columns that rise, then fall back: early (their values so far are
  // kept), after more values than are kept, and never; one that falls back,
  // then takes a Null (its values are no longer kept); and ones that rise with
  // ties, throughout and until they fall back.
  jetwrite::Table runs{"Runs",
                       {{"ID", fixtures::ColumnType::Long},
                        {"EarlyID", fixtures::ColumnType::Long},
                        {"LateID", fixtures::ColumnType::Long},
                        {"LostID", fixtures::ColumnType::Long},
                        {"StepID", fixtures::ColumnType::Long},
                        {"StepDownID", fixtures::ColumnType::Long}},
                       {}};
  for (int i = 0; i < 6000; ++i)
    runs.rows.push_back({std::to_string(i * 2 - 7000), std::to_string(i < 40 ? i : i % 57),
                         std::to_string(i < 5999 ? i : 3),
                         i == 3000 ? jetwrite::Value(std::nullopt)
                                   : jetwrite::Value(std::to_string(i < 50 ? i : i % 101)),
                         std::to_string(i / 3), std::to_string(i < 900 ? i / 4 : i % 13)});
  db.tables = {items, notes, empty, plain, one, runs};
  return db;
}

TEST(ImportFigures, AreTheFiguresAnalyzeMakes) {
  fixtures::TempDir dir;
  const std::string path = fixtures::writeLibrary(dir, "shapes.mdb", shapes());
  for (ado::ReadMode mode : {ado::ReadMode::Isolated, ado::ReadMode::InProcess}) {
    auto db = ado::Database::open(path, "", mode);
    sqlite3* engine = db->sqlite();
    const Figures made = figuresOf(engine);
    // Every table is there: its indexes, or its rows alone.
    std::set<std::string> tables;
    for (const auto& f : made) tables.insert(std::get<0>(f));
    EXPECT_EQ(tables, (std::set<std::string>{"Item", "Note", "Plain", "One", "Runs"}));

    sqlite3_db_config(engine, SQLITE_DBCONFIG_DEFENSIVE, 0, nullptr);
    ASSERT_EQ(sqlite3_exec(engine,
                           "DELETE FROM sqlite_stat1; ANALYZE; UPDATE sqlite_stat1 SET stat = stat || ' unordered' "
                           "WHERE idx IS NOT NULL",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    EXPECT_EQ(made, figuresOf(engine));
  }
}

}  // namespace

namespace {

// Whole-number columns whose values rise throughout, rise with repeats, rise
// and then fall back after several batches of rows, lead with Nulls, take a
// Null halfway, or fall from the start.
TEST(ImportIndexes, EveryIndexHoldsEveryRowWhateverItsValuesDid) {
  fixtures::TempDir dir;
  jetwrite::Database db;
  db.password = "";
  const std::vector<std::string> columns = {"ID", "UpID", "LateID", "NullLeadID", "NullLateID", "DownID"};
  jetwrite::Table t{"T", {}, {}};
  for (const auto& c : columns) t.columns.push_back({c, fixtures::ColumnType::Long});
  t.columns.push_back({"Name", fixtures::ColumnType::Text, 20});
  const int count = 300;
  auto value = [](int column, int i) -> jetwrite::Value {
    switch (column) {
      case 0: return std::to_string(i);
      case 1: return std::to_string(i / 3);
      case 2: return std::to_string(i < 200 ? i : i - 150);
      case 3: return i < 10 ? std::nullopt : jetwrite::Value(std::to_string(i));
      case 4: return i == 150 ? std::nullopt : jetwrite::Value(std::to_string(i));
      default: return std::to_string(1000 - i);
    }
  };
  for (int i = 0; i < count; ++i) {
    std::vector<jetwrite::Value> row;
    for (int c = 0; c < int(columns.size()); ++c) row.push_back(value(c, i));
    row.push_back("n" + std::to_string(i));
    t.rows.push_back(row);
  }
  db.tables = {t};
  const std::string path = fixtures::writeLibrary(dir, "rising.mdb", db);

  for (ado::ReadMode mode : {ado::ReadMode::Isolated, ado::ReadMode::InProcess}) {
    auto lib = ado::Database::open(path, "", mode);
    sqlite3* engine = lib->sqlite();
    auto text = [&](const std::string& sql) {
      sqlite3_stmt* st = nullptr;
      EXPECT_EQ(sqlite3_prepare_v2(engine, sql.c_str(), -1, &st, nullptr), SQLITE_OK) << sql;
      std::string out;
      while (sqlite3_step(st) == SQLITE_ROW) out += std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, 0))) + ";";
      sqlite3_finalize(st);
      return out;
    };
    // One index a column, named in the order of the columns.
    std::string expected;
    for (std::size_t c = 0; c < columns.size(); ++c)
      expected += "CREATE INDEX \"ix" + std::to_string(c + 1) + "_T\" ON \"T\" (\"" + columns[c] + "\");";
    EXPECT_EQ(text("SELECT sql FROM sqlite_schema WHERE type='index' ORDER BY substr(name, 3) + 0"), expected);
    // Each index holds exactly the table's rows.
    EXPECT_EQ(text("PRAGMA integrity_check"), "ok;");
    for (std::size_t c = 0; c < columns.size(); ++c) {
      const std::string index = "ix" + std::to_string(c + 1) + "_T";
      int nulls = 0;
      for (int i = 0; i < count; ++i) nulls += value(int(c), i) ? 0 : 1;
      EXPECT_EQ(text("SELECT count(*) FROM T INDEXED BY \"" + index + "\" WHERE \"" + columns[c] + "\" IS NULL"),
                std::to_string(nulls) + ";")
          << columns[c];
      for (int i : {0, 9, 10, 63, 64, 149, 150, 199, 200, 299}) {
        if (!value(int(c), i)) continue;
        int same = 0;
        for (int j = 0; j < count; ++j) same += value(int(c), j) == value(int(c), i) ? 1 : 0;
        EXPECT_EQ(text("SELECT count(*) FROM T INDEXED BY \"" + index + "\" WHERE \"" + columns[c] + "\" = " +
                       *value(int(c), i)),
                  std::to_string(same) + ";")
            << columns[c] << " " << i;
      }
    }
  }
}

}  // namespace

namespace {

// Indexes on whole-number columns whose values do not rise, of every width
// and sign (the extremes of a Long among them), with runs of equal values,
// or that rise and fall back (before any rows were handed to the inserting
// thread, after several chunks of them, and after leading Nulls), with more
// rows than one statement writes: each holds exactly the rows, in the order
// of value then rowid (Nulls first), both as imported and as served from the
// library cache, and nothing else is left in the schema.
TEST(ImportIndexes, MadeFromTheValuesAsTheEngineWouldMakeThem) {
  fixtures::TempDir dir, home;
  const testsupport::CacheHome cache(home.path().string());
  jetwrite::Database db;
  db.password = "";
  const std::vector<std::string> columns = {"ID",     "WideID",  "ShortID",   "FlagID",
                                            "GroupID", "EarlyID", "LateID", "NullLateID"};
  jetwrite::Table t{"W",
                    {{"ID", fixtures::ColumnType::Long},
                     {"WideID", fixtures::ColumnType::Long},
                     {"ShortID", fixtures::ColumnType::Integer},
                     {"FlagID", fixtures::ColumnType::YesNo},
                     {"GroupID", fixtures::ColumnType::Byte},
                     {"EarlyID", fixtures::ColumnType::Long},
                     {"LateID", fixtures::ColumnType::Long},
                     {"NullLateID", fixtures::ColumnType::Long},
                     {"Name", fixtures::ColumnType::Text, 20}},
                    {}};
  const int count = 6000;
  std::vector<std::vector<std::optional<int64_t>>> values(columns.size());
  uint32_t seed = 12345;
  for (int i = 0; i < count; ++i) {
    seed = seed * 1103515245u + 12345u;
    int64_t wide = int64_t(int32_t(seed));
    if (i % 97 == 5) wide = INT32_MIN;
    if (i % 89 == 7) wide = INT32_MAX;
    if (i % 10 == 3) wide = *values[1][std::size_t(i - 3)];  // repeats, far apart
    const std::vector<std::optional<int64_t>> row = {
        i,           wide, (i * 37) % 200 - 100,          i % 3 == 0 ? -1 : 0, (i * 7) % 256,
        i < 100 ? i : i % 50, i < 5000 ? i : i - 4321, i < 10 ? std::nullopt : std::optional<int64_t>(i < 3000 ? i : i % 7)};
    std::vector<jetwrite::Value> written;
    for (std::size_t c = 0; c < columns.size(); ++c) {
      values[c].push_back(row[c]);
      if (!row[c])
        written.push_back(std::nullopt);
      else if (columns[c] == "FlagID")
        written.push_back(*row[c] ? "true" : "false");
      else
        written.push_back(std::to_string(*row[c]));
    }
    written.push_back("n" + std::to_string(i));
    t.rows.push_back(written);
  }
  db.tables = {t};
  const std::string path = fixtures::writeLibrary(dir, "wide.mdb", db);

  for (int open = 0; open < 2; ++open) {  // imported, then from the entry
    auto lib = ado::Database::open(path, "");
    EXPECT_EQ(lib->importTimes().total > 0, open == 0);
    sqlite3* engine = lib->sqlite();
    auto rows = [&](const std::string& sql) {
      sqlite3_stmt* st = nullptr;
      EXPECT_EQ(sqlite3_prepare_v2(engine, sql.c_str(), -1, &st, nullptr), SQLITE_OK) << sql;
      std::vector<std::string> out;
      while (sqlite3_step(st) == SQLITE_ROW) {
        std::string row;
        for (int c = 0; c < sqlite3_column_count(st); ++c) {
          const unsigned char* text = sqlite3_column_text(st, c);
          row += (c ? " " : "") + (text ? std::string(reinterpret_cast<const char*>(text)) : std::string("NULL"));
        }
        out.push_back(row);
      }
      sqlite3_finalize(st);
      return out;
    };
    EXPECT_EQ(rows("PRAGMA integrity_check"), std::vector<std::string>{"ok"});
    EXPECT_EQ(rows("SELECT type || ' ' || name FROM sqlite_schema WHERE type <> 'index' AND name NOT LIKE 'sqlite%'"),
              std::vector<std::string>{"table W"});
    for (std::size_t c = 0; c < columns.size(); ++c) {
      const std::string index = "ix" + std::to_string(c + 1) + "_W";
      EXPECT_EQ(rows("SELECT sql FROM sqlite_schema WHERE name = '" + index + "'"),
                std::vector<std::string>{"CREATE INDEX \"" + index + "\" ON \"W\" (\"" + columns[c] + "\")"});
      std::vector<std::pair<std::optional<int64_t>, int64_t>> expected;  // nullopt sorts first
      for (int i = 0; i < count; ++i) expected.emplace_back(values[c][std::size_t(i)], i + 1);
      std::sort(expected.begin(), expected.end());
      std::vector<std::string> walk;
      for (const auto& [v, rowid] : expected)
        walk.push_back((v ? std::to_string(*v) : std::string("NULL")) + " " + std::to_string(rowid));
      // The index's own order: the walk of a covering index.
      EXPECT_EQ(rows("SELECT \"" + columns[c] + "\", rowid FROM W INDEXED BY \"" + index + "\""), walk)
          << columns[c] << " open " << open;
    }
  }
}

}  // namespace

namespace {

// A library table that bears the name an index gets: the import goes on
// without that index (as it did when the engine made every index), the rows
// whole.
TEST(ImportIndexes, ANameTakenByATableLeavesTheRest) {
  fixtures::TempDir dir;
  jetwrite::Database db;
  db.password = "";
  jetwrite::Table taken{"ix2_T", {{"Name", fixtures::ColumnType::Text, 20}}, {{"a"}, {"b"}}};
  jetwrite::Table t{"T", {{"ID", fixtures::ColumnType::Long}, {"GroupID", fixtures::ColumnType::Long}}, {}};
  for (int i = 0; i < 50; ++i) t.rows.push_back({std::to_string(i), std::to_string(i * 7 % 11)});
  db.tables = {taken, t};
  const std::string path = fixtures::writeLibrary(dir, "taken.mdb", db);
  const bool cached = ado::libraryCacheEnabled();
  ado::setLibraryCacheEnabled(false);
  for (ado::ReadMode mode : {ado::ReadMode::Isolated, ado::ReadMode::InProcess}) {
    auto lib = ado::Database::open(path, "", mode);
    const ado::ResultSet rs = lib->execute("select count(*), sum(GroupID) from T where GroupID >= 0");
    EXPECT_EQ(rs.cells.at(0).toInt64(), 50);
    EXPECT_EQ(rs.cells.at(1).toInt64(), [] { int s = 0; for (int i = 0; i < 50; ++i) s += i * 7 % 11; return s; }());
    EXPECT_EQ(lib->execute("select count(*) from ix2_T").cells.at(0).toInt64(), 2);
  }
  ado::setLibraryCacheEnabled(cached);
}

}  // namespace

namespace {

// The chunks of rows handed to the inserting thread: every one worked off,
// in the order handed over, before drain returns, with no more chunks in
// flight than asked for; what the work throws comes back to the handing
// thread, and nothing is worked on after it.
TEST(ImportChunks, WorkedOffInOrderAndTheirErrorsComeBack) {
  using ado::ChunkPipeline;
  using ado::RowChunk;
  std::vector<int> worked;  // read by this thread only after drain or the error
  std::set<const RowChunk*> seen;
  {
    ChunkPipeline pipeline(
        [&](const RowChunk& c, const std::atomic<bool>&) {
          std::this_thread::sleep_for(std::chrono::milliseconds(2));
          worked.push_back(c.rows);
        },
        3);
    auto chunk = std::make_unique<RowChunk>();
    for (int i = 1; i <= 12; ++i) {
      seen.insert(chunk.get());
      chunk->rows = i;
      chunk = pipeline.handOver(std::move(chunk));
      EXPECT_EQ(chunk->rows, 0);
    }
    pipeline.drain();
    EXPECT_EQ(worked, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    EXPECT_LE(seen.size(), 3u);
  }

  std::atomic<int> after{0};
  ChunkPipeline failing(
      [&](const RowChunk& c, const std::atomic<bool>&) {
        if (c.rows == 3) throw std::runtime_error("chunk 3");
        if (c.rows > 3) ++after;
      },
      3);
  auto chunk = std::make_unique<RowChunk>();
  std::string thrown;
  try {
    for (int i = 1; i <= 50; ++i) {
      chunk->rows = i;
      chunk = failing.handOver(std::move(chunk));
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    failing.drain();
  } catch (const std::runtime_error& e) {
    thrown = e.what();
  }
  EXPECT_EQ(thrown, "chunk 3");
  EXPECT_EQ(after.load(), 0);
  EXPECT_THROW(failing.drain(), std::runtime_error);
}

// A pipeline ended while a chunk is being worked on (an import stopped or
// failed) tells the work to give up, and interrupts it, instead of waiting
// for the chunk to be done.
TEST(ImportChunks, EndedWhileWorkingTellsTheWorkToGiveUp) {
  using ado::ChunkPipeline;
  using ado::RowChunk;
  std::atomic<bool> started{false}, gaveUp{false};
  std::atomic<int> interrupts{0};
  {
    ChunkPipeline pipeline(
        [&](const RowChunk&, const std::atomic<bool>& abandoned) {
          started = true;
          // Long work, given up once told (ten seconds at most).
          for (int i = 0; i < 10000 && !abandoned; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
          gaveUp = abandoned.load();
        },
        2, [&] { ++interrupts; });
    auto chunk = std::make_unique<RowChunk>();
    chunk->rows = 1;
    chunk = pipeline.handOver(std::move(chunk));
    while (!started) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_TRUE(gaveUp);
  EXPECT_EQ(interrupts.load(), 1);

  // A hand-over waiting for a chunk to come back ends with what the check
  // throws (the handing thread was asked to stop).
  std::atomic<bool> stopAsked{false}, released{false};
  std::string thrown;
  {
    ChunkPipeline slow(
        [&](const RowChunk&, const std::atomic<bool>& abandoned) {
          for (int i = 0; i < 10000 && !abandoned && !released; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        },
        2, {}, [&] {
          if (stopAsked) throw std::runtime_error("stopped");
        });
    auto chunk = std::make_unique<RowChunk>();
    chunk = slow.handOver(std::move(chunk));  // the work takes the first, this one fills
    std::thread asker([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      stopAsked = true;
    });
    try {
      chunk = slow.handOver(std::move(chunk));  // waits: both chunks are out
    } catch (const std::runtime_error& e) {
      thrown = e.what();
    }
    released = true;
    asker.join();
  }
  EXPECT_EQ(thrown, "stopped");

  // Ended while idle: nothing to interrupt.
  { ChunkPipeline idle([&](const RowChunk&, const std::atomic<bool>&) {}, 2, [&] { ++interrupts; }); }
  EXPECT_EQ(interrupts.load(), 1);
}

}  // namespace

namespace {

// Long memo texts among short ones: chunks are handed over by the bytes of
// their texts as well as by their rows, and a cell's room is given back when
// a short text follows a long one; every text still comes out whole.
TEST(ImportChunks, LongTextsComeOutWhole) {
  fixtures::TempDir dir;
  jetwrite::Database db;
  db.password = "";
  jetwrite::Table t{"Notes", {{"ID", fixtures::ColumnType::Long}, {"Body", fixtures::ColumnType::Memo}}, {}};
  auto body = [](int i) {
    if (i % 7 == 0) return std::string(70000 + i, char('a' + i % 26));
    return std::string(std::size_t(i % 3 + 1) * 10, char('A' + i % 26));
  };
  const int count = 400;
  for (int i = 0; i < count; ++i) t.rows.push_back({std::to_string(i), body(i)});
  db.tables = {t};
  const std::string path = fixtures::writeLibrary(dir, "notes.mdb", db);
  for (ado::ReadMode mode : {ado::ReadMode::Isolated, ado::ReadMode::InProcess}) {
    auto lib = ado::Database::open(path, "", mode);
    const ado::ResultSet rs = lib->execute("select ID, Body from Notes order by ID");
    ASSERT_EQ(rs.rows, std::size_t(count));
    for (int i = 0; i < count; ++i) {
      ASSERT_EQ(rs.cells[std::size_t(i) * 2].toInt64(), i);
      EXPECT_EQ(rs.cells[std::size_t(i) * 2 + 1].toText(), body(i)) << i;
    }
  }
}

}  // namespace

namespace {

// A stop asked once the last row is in ends the import in the statement
// then running (the rows' inserts, the indexes), before it reports its rows
// in; without a stop the same import runs to that report. (The last row's
// own report already counts every row: the rows are in at the second.)
TEST(ImportStop, EndsTheStatementUnderWay) {
  fixtures::TempDir dir;
  jetwrite::Database db;
  db.password = "";
  jetwrite::Table t{"T", {{"ID", fixtures::ColumnType::Long}, {"GroupID", fixtures::ColumnType::Long}}, {}};
  for (int i = 0; i < 4096; ++i) t.rows.push_back({std::to_string(i), std::to_string(i * 7919 % 613)});
  db.tables = {t};
  const std::string path = fixtures::writeLibrary(dir, "stop.mdb", db);
  const bool cached = ado::libraryCacheEnabled();
  ado::setLibraryCacheEnabled(false);  // every open imports
  for (ado::ReadMode mode : {ado::ReadMode::Isolated, ado::ReadMode::InProcess}) {
    for (const bool stopping : {false, true}) {
      std::atomic<bool> stop{false};
      int everyRow = 0;  // reports that count every row
      ado::setImportProgress([&](const std::string&, uint64_t done, uint64_t total) {
        if (done == 4096 && stopping) stop = true;
        if (done == total && done > 0) ++everyRow;
      });
      ado::setImportStopFlag(&stop);
      bool stopped = false;
      try {
        ado::Database::open(path, "", mode);
      } catch (const ado::ImportStopped&) {
        stopped = true;
      }
      ado::setImportStopFlag(nullptr);
      ado::setImportProgress({});
      EXPECT_EQ(stopped, stopping);
      EXPECT_EQ(everyRow, stopping ? 1 : 2);
    }
  }
  ado::setLibraryCacheEnabled(cached);
}

}  // namespace
