#pragma once
// A library cache entry as the engine's database file: the entry's
// copy-on-write mapping served through an SQLite VFS of the provider's own
// ("velmora-entry", registered once, never the default), each page checked
// against its digest the first time the engine reads it.
//
// - Reads (xRead, and xFetch, which hands out pointers into the mapping once
//   the pages are checked) check every page they touch that is not checked
//   yet. A page that fails its check makes the whole entry damaged: its file
//   is removed (when it is still the file that was mapped), and every read of
//   it fails from then on (SQLITE_IOERR_READ), checked pages included.
// - Writes (an index made after the open) go into the private mapping and
//   make the pages they cover the provider's own: they are never checked
//   against the entry's digests again. The file grows within the room after
//   the image and no further (SQLITE_FULL).
// - Locks and syncs do nothing; the database has no journal file (the engine
//   runs with journal_mode=OFF); temporary files (sorting, statement
//   journals) are the default VFS's.
// - The open file holds the image: the mapping lives as long as an engine
//   (or a statement of it) still uses it.
#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/database/adodb.h"

struct sqlite3;

namespace ado {

// The digest of a run of bytes (xxHash64's scheme: four lanes of 64-bit
// words, multiplied and rotated), about as fast as memory is read.
uint64_t pageDigest(const unsigned char* p, std::size_t n);

class CacheImage {
 public:
  // `base` is a mapping of `total` bytes whose first `imageSize` bytes are
  // the entry's database (pages of `pageSize` bytes, `digests` one per page);
  // `file` (device `dev`, inode `ino`) is the entry it was mapped from.
  CacheImage(void* base, std::size_t total, std::size_t imageSize, uint32_t pageSize, std::vector<uint64_t> digests,
             std::string file, dev_t dev, ino_t ino);
  ~CacheImage();
  CacheImage(const CacheImage&) = delete;
  CacheImage& operator=(const CacheImage&) = delete;

  bool damaged() const { return damaged_; }
  const std::string& file() const { return file_; }

  // The VFS's operations (SQLite result codes).
  int read(void* out, int amount, int64_t at);
  int write(const void* in, int amount, int64_t at);
  int truncate(int64_t size);
  int64_t size() const { return int64_t(size_); }
  int fetch(int64_t at, int amount, void** out);

 private:
  // Whether the bytes [at, at + n) lie on pages that are sound (checked now
  // if not yet); false once the entry is damaged.
  bool sound(std::size_t at, std::size_t n);
  void fail();

  unsigned char* base_;
  std::size_t total_, imageSize_, size_;
  uint32_t pageSize_;
  std::vector<uint64_t> digests_;
  std::vector<uint64_t> checked_;  // a bit per page of the image: checked or the provider's own
  std::string file_;
  dev_t dev_;
  ino_t ino_;
  bool damaged_ = false;
};

// The VFS's name (registered at the first call).
const char* cacheVfsName();

// Opens the engine on `image`: an SQLite connection (flags as
// sqlite3_open_v2's) whose main database is the image. SQLite's result code;
// `*engine` is set as sqlite3_open_v2 sets it.
int openCacheImage(const std::shared_ptr<CacheImage>& image, int flags, sqlite3** engine);

// The image the engine's main database is served from, if it is one.
CacheImage* cacheImageOf(sqlite3* engine);

// When the engine runs on an entry found damaged: the error a statement that
// met it gives.
std::optional<Error> damagedEntryError(sqlite3* engine);

// Pages of entries checked against their digests in this process.
uint64_t cachePagesChecked();

}  // namespace ado
