#include "platform/database/jet_import.h"

#include <sqlite3.h>

#include <algorithm>

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

Database::Importer::Importer(Database& db) : db_(db), progress_(importProgress()), stop_(importStops()) {}

void Database::Importer::exec(const std::string& sql) {
  char* err = nullptr;
  if (sqlite3_exec(db_.db_.get(), sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
    std::string msg = err ? err : "?";
    sqlite3_free(err);
    throw Error(jet::kFail, "Cannot copy the database into memory: " + msg);
  }
}

void Database::Importer::beginTable(const jet::TableDef& t) {
  TableInfo info = t.info;
  // Two tables whose names differ only in case cannot both be kept.
  for (const auto& other : db_.tables_)
    if (asciiLower(other.name) == asciiLower(info.name)) info.name += "_" + std::to_string(db_.tables_.size());
  std::string sql = "CREATE TABLE " + quoteIdent(info.name) + " (";
  std::string marks;
  for (std::size_t i = 0; i < info.columns.size(); ++i) {
    if (i) sql += ", ", marks += ",";
    sql += quoteIdent(info.columns[i].name) + " " + declaredType(info.columns[i].type);
    marks += "?";
  }
  sql += ")";
  exec(sql);
  std::string ins = "INSERT INTO " + quoteIdent(info.name) + " VALUES (" + marks + ")";
  sqlite3_stmt* st = nullptr;
  const int prepared = sqlite3_prepare_v2(db_.db_.get(), ins.c_str(), -1, &st, nullptr);
  insert_.reset(st);
  if (prepared != SQLITE_OK)
    throw Error(jet::kFail, std::string("Cannot copy the database into memory: ") + sqlite3_errmsg(db_.db_.get()));
  db_.tables_.push_back(std::move(info));
  indexes_ = t.indexes;
  rows_ = 0;
}

void Database::Importer::row(const std::vector<jet::Cell>& cells) {
  checkImportStop(stop_);
  sqlite3_stmt* insert = insert_.get();
  const auto& cols = db_.tables_.back().columns;
  for (std::size_t i = 0; i < cells.size() && i < cols.size(); ++i) {
    const jet::Cell& c = cells[i];
    int k = int(i + 1);
    switch (c.kind) {
      case jet::Cell::Int:
        if (cols[i].type == JetType::Currency)
          bindCurrency(insert, k, c.i);
        else
          sqlite3_bind_int64(insert, k, c.i);
        break;
      case jet::Cell::Real: sqlite3_bind_double(insert, k, c.d); break;
      case jet::Cell::Text:
        sqlite3_bind_text(insert, k, c.s.data(), int(c.s.size()), SQLITE_STATIC);
        break;
      default: sqlite3_bind_null(insert, k); break;
    }
  }
  if (sqlite3_step(insert) != SQLITE_DONE)
    throw Error(jet::kFail, std::string("Cannot copy the database into memory: ") + sqlite3_errmsg(db_.db_.get()));
  sqlite3_reset(insert);
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
  insert_.reset();
  TableInfo& info = db_.tables_.back();
  info.rowCount = rows_;
  // The file's own indexes, then the id and link columns (…ID), which the
  // outline's one-query-per-node lookups and the joins search by.
  for (const auto& ix : indexes_) {
    if (ix.columns.size() == 1) {
      db_.ensureIndex(info.name, info.columns[std::size_t(ix.columns[0])].name);
      continue;
    }
    std::string cols;
    for (int c : ix.columns) {
      if (!cols.empty()) cols += ",";
      cols += quoteIdent(info.columns[std::size_t(c)].name);
    }
    exec("CREATE INDEX " + quoteIdent("ix" + std::to_string(++db_.indexCount_) + "_" + info.name) +
         " ON " + quoteIdent(info.name) + " (" + cols + ")");
  }
  for (const auto& c : info.columns)
    if (endsWithId(c.name) && c.type != JetType::Memo && c.type != JetType::Ole &&
        c.type != JetType::Binary)
      db_.ensureIndex(info.name, c.name);
}

}  // namespace ado
