#pragma once
// The library cache: each imported library kept as an SQLite file in the user's
// cache folder, so that opening it again maps that file instead of reading the
// Jet file and copying every table once more.
//
// Where: $XDG_CACHE_HOME/velmora/ (else ~/.cache/velmora/), never the program
// folder; one file per library, "lib-<hash of the full path>.sqlite". The file
// is an SQLite database (the copy as the import made it: tables, indexes and
// the planner's figures) followed by a trailer that names what it was made from
// (the provider's build, full path, size, modification and change time to the
// nanosecond, device and inode, hash of the first pages and of the last page),
// what the provider knows besides the tables (Jet types and sizes, row counts,
// indexed columns) and the digest of each of the database's pages (of the
// database's own page size), the trailer's own digest covering them all, with
// the cache format in the database's user_version.
//
// Contract:
// - The Jet file's password is checked before the cache is looked at; the cache
//   never stands in for that check (Database::open).
// - An entry is used only when its format, its key and its trailer all agree
//   and SQLite can read its schema; otherwise it is rebuilt by the import that
//   follows. Each page is checked against its digest the first time the
//   engine reads it (cache_file.h), not at the open: a page that fails (a byte
//   changed anywhere) makes the entry damaged. Its file is removed, nothing
//   more is read from it, and the statement that met it is run again on the
//   library imported afresh (Database::execute, and forEachRow before its
//   first row), or fails with an error that says so (rows already handed
//   over, the column reader). A library edited in place and given its old modification time
//   back has another change time; a copy (cp -p, unpacking) another inode.
// - The cache folder is used only when it is a folder of the user's own, not
//   a symbolic link; an entry that is a link is not read (and is replaced by
//   a file when the entry is written), and the size limit counts and removes
//   only files. Writing goes to a temporary file in the cache folder, synced and
//   renamed when complete, so a crash leaves the old entry or none, never half a
//   one. A cache that cannot be written (read-only or missing home, full disk)
//   leaves the open as it was, without a message.
// - A used entry is mapped copy-on-write (MAP_PRIVATE) from a read-only file
//   descriptor, with room after it, and served to the engine through the
//   provider's own VFS: the file itself is never written, while the provider
//   may still add an index to its private copy as it does to the in-memory
//   one (pages written so are its own, never checked against the entry's
//   digests). The file stays mapped while the engine runs on it.
// - Size limit: VELMORA_CACHE_LIMIT_MB (default 2048 MiB). After an entry is
//   written, the least recently used entries (file modification time, touched at
//   every use) are removed until the folder is within the limit; an entry larger
//   than the limit on its own is not written.
// - Switched off by setLibraryCacheEnabled(false) (velmora-cli --no-cache) or by
//   VELMORA_NO_CACHE=1 in the environment.
//
// Entries made by another program are rebuilt: the key begins with a hash of
// the provider's sources (this folder and common/, computed by the build), so
// any change to how a library is copied (declared types, collations, indexes,
// statistics) gives other entries. kLibraryCacheFormat is the layout of the
// entry itself (the database's user_version); bump it when the trailer changes.
#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <string>

namespace ado {

class Database;

inline constexpr int32_t kLibraryCacheFormat = 3;

// Process-wide switch; on by default unless VELMORA_NO_CACHE=1.
void setLibraryCacheEnabled(bool on);
bool libraryCacheEnabled();

// The cache folder ($XDG_CACHE_HOME/velmora or ~/.cache/velmora), "" when
// neither variable names a folder.
std::string libraryCacheFolder();

// The size limit in bytes; VELMORA_CACHE_LIMIT_MB unless set here (tests).
void setLibraryCacheLimit(uint64_t bytes);
uint64_t libraryCacheLimit();

// Writes the digest of an entry's pages anew after they were changed in
// place (tests change an entry to see where an answer comes from). False
// when the file is no entry.
bool resealLibraryCacheEntry(const std::string& file);

// Tables an upper layer derives from a library's own tables (a lookup key
// per row, say), kept in the entry beside the copy so that they are made once
// per library rather than at every use. Each has a name and a version. A
// registered table is built when a library is imported (before its entry is
// written; also when the cache is off), and when a used entry lacks it or
// holds another version of it: it is then built in the open copy and the
// entry is written anew (an entry with another version of it is imported
// afresh instead, so that the old table leaves no pages behind). `build` creates the table `name` (and its indexes)
// in the database's engine (Database::sqlite()); the database is not yet
// sealed. A build that throws leaves no table of that name behind, and the
// open goes on without it. Which versions an entry holds is kept in its
// table "velmora_derived" (name, version). Registering again under the same
// name replaces the builder; registration is process-wide and thread-safe,
// and affects the libraries opened after it.
struct DerivedTable {
  std::string name;
  int version = 1;
  std::function<void(Database&)> build;
};
void registerDerivedTable(DerivedTable table);
// The version of `name` that `db` holds, 0 when none.
int derivedTableVersion(Database& db, const std::string& name);

// One library's entry, for one open.
class LibraryCache {
 public:
  // `path` is the library as opened, `fd` an open descriptor of it and `st` its
  // stat (the header pages are read through `fd`).
  LibraryCache(const std::string& path, int fd, const struct stat& st);

  // Fills `db` (engine created, nothing imported) from a good entry; false when
  // there is none or the cache is off.
  bool load(Database& db);
  // After an import into `db`: writes the entry, then serves `db` from it. Any
  // failure leaves `db` as it was.
  void store(Database& db);

  const std::string& file() const { return file_; }  // "" when off
  const std::string& key() const { return key_; }    // what the entry must name

 private:
  // Serves `db` from the entry (a new engine on it); false when there is no
  // good entry, `db` then untouched.
  bool attach(Database& db);
  // Whether `db` holds another version of a registered table.
  bool outdated(Database& db);
  // Builds the registered tables `db` lacks or holds in another version;
  // true when one was built.
  bool derive(Database& db);
  // Writes the entry from `db`; false when it was not written.
  bool write(Database& db);
  // Writes the entry, then serves `db` from it.
  void persist(Database& db);

  std::string key_;   // full path, size, time and header hash, as stored
  std::string file_;  // the entry's path
};

}  // namespace ado
