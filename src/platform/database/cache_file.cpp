#include "platform/database/cache_file.h"

#include <sqlite3.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <new>

#include "platform/database/jet_reader.h"

namespace ado {

namespace {

uint64_t rotl(uint64_t v, int r) { return (v << r) | (v >> (64 - r)); }
constexpr uint64_t kP1 = 11400714785074694791ull, kP2 = 14029467366897019727ull, kP3 = 1609587929392839161ull,
                   kP4 = 9650029242287828579ull, kP5 = 2870177450012600261ull;
uint64_t load64(const unsigned char* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}
uint64_t round64(uint64_t acc, uint64_t in) { return rotl(acc + in * kP2, 31) * kP1; }
uint64_t merge64(uint64_t acc, uint64_t v) { return (acc ^ round64(0, v)) * kP1 + kP4; }

std::atomic<uint64_t> pagesChecked{0};

}  // namespace

uint64_t pageDigest(const unsigned char* p, std::size_t n) {
  const unsigned char* const end = p + n;
  uint64_t h;
  if (n >= 32) {
    uint64_t v1 = kP1 + kP2, v2 = kP2, v3 = 0, v4 = 0 - kP1;
    for (const unsigned char* limit = end - 32; p <= limit; p += 32) {
      v1 = round64(v1, load64(p));
      v2 = round64(v2, load64(p + 8));
      v3 = round64(v3, load64(p + 16));
      v4 = round64(v4, load64(p + 24));
    }
    h = rotl(v1, 1) + rotl(v2, 7) + rotl(v3, 12) + rotl(v4, 18);
    h = merge64(merge64(merge64(merge64(h, v1), v2), v3), v4);
  } else {
    h = kP5;
  }
  h += uint64_t(n);
  for (; p + 8 <= end; p += 8) h = rotl(h ^ round64(0, load64(p)), 27) * kP1 + kP4;
  for (; p < end; ++p) h = rotl(h ^ (*p * kP5), 11) * kP1;
  h ^= h >> 33;
  h *= kP2;
  h ^= h >> 29;
  h *= kP3;
  return h ^ (h >> 32);
}

uint64_t cachePagesChecked() { return pagesChecked.load(); }

CacheImage::CacheImage(void* base, std::size_t total, std::size_t imageSize, uint32_t pageSize,
                       std::vector<uint64_t> digests, std::string file, dev_t dev, ino_t ino)
    : base_(static_cast<unsigned char*>(base)),
      total_(total),
      imageSize_(imageSize),
      size_(imageSize),
      pageSize_(pageSize),
      digests_(std::move(digests)),
      checked_((digests_.size() + 63) / 64, 0),
      file_(std::move(file)),
      dev_(dev),
      ino_(ino) {}

CacheImage::~CacheImage() { ::munmap(base_, total_); }

void CacheImage::fail() {
  if (damaged_) return;
  damaged_ = true;
  // The next open imports the library afresh; a file put there since (a
  // rebuilt entry) is not this one and stays.
  struct stat st{};
  if (::lstat(file_.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_dev == dev_ && st.st_ino == ino_)
    ::unlink(file_.c_str());
}

bool CacheImage::sound(std::size_t at, std::size_t n) {
  if (damaged_) return false;
  if (n == 0 || at >= imageSize_) return true;
  const std::size_t first = at / pageSize_, last = (std::min(at + n, imageSize_) - 1) / pageSize_;
  for (std::size_t p = first; p <= last; ++p) {
    uint64_t& word = checked_[p / 64];
    const uint64_t bit = uint64_t(1) << (p % 64);
    if (word & bit) continue;
    pagesChecked.fetch_add(1, std::memory_order_relaxed);
    if (pageDigest(base_ + p * pageSize_, pageSize_) != digests_[p]) {
      fail();
      return false;
    }
    word |= bit;
  }
  return true;
}

int CacheImage::read(void* out, int amount, int64_t at) {
  if (damaged_) return SQLITE_IOERR_READ;
  const std::size_t want = std::size_t(amount), from = std::size_t(at);
  const std::size_t have = from >= size_ ? 0 : std::min(want, size_ - from);
  if (!sound(from, have)) return SQLITE_IOERR_READ;
  std::memcpy(out, base_ + from, have);
  if (have == want) return SQLITE_OK;
  std::memset(static_cast<unsigned char*>(out) + have, 0, want - have);
  return SQLITE_IOERR_SHORT_READ;
}

int CacheImage::write(const void* in, int amount, int64_t at) {
  if (damaged_) return SQLITE_IOERR_WRITE;
  const std::size_t n = std::size_t(amount), from = std::size_t(at);
  if (from > total_ || n > total_ - from) return SQLITE_FULL;
  // The pages written become the provider's own; one written in part keeps
  // the rest of its bytes, which must be sound first.
  if (from < imageSize_ && n > 0) {
    const std::size_t first = from / pageSize_, last = (std::min(from + n, imageSize_) - 1) / pageSize_;
    for (std::size_t p = first; p <= last; ++p) {
      const bool whole = from <= p * pageSize_ && from + n >= (p + 1) * pageSize_;
      if (!whole && !sound(p * pageSize_, pageSize_)) return SQLITE_IOERR_WRITE;
      checked_[p / 64] |= uint64_t(1) << (p % 64);
    }
  }
  if (from > size_) std::memset(base_ + size_, 0, from - size_);
  std::memcpy(base_ + from, in, n);
  size_ = std::max(size_, from + n);
  return SQLITE_OK;
}

int CacheImage::truncate(int64_t size) {
  if (size < 0 || std::size_t(size) > total_) return SQLITE_FULL;
  if (std::size_t(size) > size_) std::memset(base_ + size_, 0, std::size_t(size) - size_);
  size_ = std::size_t(size);
  return SQLITE_OK;
}

int CacheImage::fetch(int64_t at, int amount, void** out) {
  *out = nullptr;
  if (damaged_) return SQLITE_IOERR_READ;
  const std::size_t from = std::size_t(at), n = std::size_t(amount);
  if (from > size_ || n > size_ - from) return SQLITE_OK;  // read instead
  if (!sound(from, n)) return SQLITE_IOERR_READ;
  *out = base_ + from;
  return SQLITE_OK;
}

namespace {

constexpr char kPrefix[] = "/velmora-entry/";

bool ours(const char* name) { return name && std::strncmp(name, kPrefix, sizeof kPrefix - 1) == 0; }

// Images handed to the VFS's open, by the name they are opened under.
std::mutex openingLock;
std::map<std::string, std::shared_ptr<CacheImage>>& opening() {
  static std::map<std::string, std::shared_ptr<CacheImage>> images;
  return images;
}

struct EntryFile {
  sqlite3_file file;  // first: SQLite's view of it
  std::shared_ptr<CacheImage>* image;
};

CacheImage& imageOf(sqlite3_file* f) { return **reinterpret_cast<EntryFile*>(f)->image; }

int fileClose(sqlite3_file* f) {
  auto* e = reinterpret_cast<EntryFile*>(f);
  delete e->image;
  e->image = nullptr;
  return SQLITE_OK;
}
int fileRead(sqlite3_file* f, void* out, int amount, sqlite3_int64 at) { return imageOf(f).read(out, amount, at); }
int fileWrite(sqlite3_file* f, const void* in, int amount, sqlite3_int64 at) {
  return imageOf(f).write(in, amount, at);
}
int fileTruncate(sqlite3_file* f, sqlite3_int64 size) { return imageOf(f).truncate(size); }
int fileSync(sqlite3_file*, int) { return SQLITE_OK; }
int fileSize(sqlite3_file* f, sqlite3_int64* size) {
  *size = imageOf(f).size();
  return SQLITE_OK;
}
int fileLock(sqlite3_file*, int) { return SQLITE_OK; }
int fileCheckReserved(sqlite3_file*, int* out) {
  *out = 0;
  return SQLITE_OK;
}
int fileControl(sqlite3_file*, int, void*) { return SQLITE_NOTFOUND; }
int fileSectorSize(sqlite3_file*) { return 4096; }
int fileCharacteristics(sqlite3_file*) { return SQLITE_IOCAP_POWERSAFE_OVERWRITE; }
int fileFetch(sqlite3_file* f, sqlite3_int64 at, int amount, void** out) { return imageOf(f).fetch(at, amount, out); }
int fileUnfetch(sqlite3_file*, sqlite3_int64, void*) { return SQLITE_OK; }

const sqlite3_io_methods kMethods = {
    3,           fileClose,      fileRead,  fileWrite,     fileTruncate,     fileSync,
    fileSize,    fileLock,       fileLock,  fileCheckReserved, fileControl,  fileSectorSize,
    fileCharacteristics, nullptr, nullptr,  nullptr,       nullptr,          fileFetch,
    fileUnfetch,
};

sqlite3_vfs* baseVfs() {
  static sqlite3_vfs* base = sqlite3_vfs_find(nullptr);
  return base;
}

int vfsOpen(sqlite3_vfs*, const char* name, sqlite3_file* f, int flags, int* outFlags) {
  if (!ours(name)) {
    // Temporary files (sorting, statement journals) are the system's; no
    // other named file belongs to an entry's engine.
    if (name) return SQLITE_CANTOPEN;
    return baseVfs()->xOpen(baseVfs(), name, f, flags, outFlags);
  }
  if (!(flags & SQLITE_OPEN_MAIN_DB)) return SQLITE_CANTOPEN;
  std::shared_ptr<CacheImage> image;
  {
    const std::lock_guard<std::mutex> held(openingLock);
    auto it = opening().find(name);
    if (it != opening().end()) image = it->second;
  }
  if (!image) return SQLITE_CANTOPEN;
  auto* e = reinterpret_cast<EntryFile*>(f);
  e->image = new (std::nothrow) std::shared_ptr<CacheImage>(std::move(image));
  if (!e->image) return SQLITE_NOMEM;
  e->file.pMethods = &kMethods;
  if (outFlags) *outFlags = flags;
  return SQLITE_OK;
}
int vfsDelete(sqlite3_vfs*, const char* name, int syncDir) {
  return ours(name) ? SQLITE_OK : baseVfs()->xDelete(baseVfs(), name, syncDir);
}
int vfsAccess(sqlite3_vfs*, const char* name, int flags, int* out) {
  if (!ours(name)) return baseVfs()->xAccess(baseVfs(), name, flags, out);
  *out = 0;  // no journal beside an entry
  return SQLITE_OK;
}
int vfsFullPathname(sqlite3_vfs*, const char* name, int size, char* out) {
  if (!ours(name)) return baseVfs()->xFullPathname(baseVfs(), name, size, out);
  if (int(std::strlen(name)) >= size) return SQLITE_CANTOPEN;
  std::strcpy(out, name);
  return SQLITE_OK;
}
void* vfsDlOpen(sqlite3_vfs*, const char*) { return nullptr; }
void vfsDlError(sqlite3_vfs*, int size, char* out) {
  if (size > 0) out[0] = 0;
}
void (*vfsDlSym(sqlite3_vfs*, void*, const char*))(void) { return nullptr; }
void vfsDlClose(sqlite3_vfs*, void*) {}
int vfsRandomness(sqlite3_vfs*, int n, char* out) { return baseVfs()->xRandomness(baseVfs(), n, out); }
int vfsSleep(sqlite3_vfs*, int us) { return baseVfs()->xSleep(baseVfs(), us); }
int vfsCurrentTime(sqlite3_vfs*, double* out) { return baseVfs()->xCurrentTime(baseVfs(), out); }
int vfsLastError(sqlite3_vfs*, int size, char* out) { return baseVfs()->xGetLastError(baseVfs(), size, out); }
int vfsCurrentTime64(sqlite3_vfs*, sqlite3_int64* out) { return baseVfs()->xCurrentTimeInt64(baseVfs(), out); }

}  // namespace

const char* cacheVfsName() {
  static const char* name = [] {
    static sqlite3_vfs vfs{};
    sqlite3_vfs* base = baseVfs();
    vfs.iVersion = 2;
    vfs.szOsFile = std::max<int>(int(sizeof(EntryFile)), base->szOsFile);
    vfs.mxPathname = base->mxPathname;
    vfs.zName = "velmora-entry";
    vfs.xOpen = vfsOpen;
    vfs.xDelete = vfsDelete;
    vfs.xAccess = vfsAccess;
    vfs.xFullPathname = vfsFullPathname;
    vfs.xDlOpen = vfsDlOpen;
    vfs.xDlError = vfsDlError;
    vfs.xDlSym = vfsDlSym;
    vfs.xDlClose = vfsDlClose;
    vfs.xRandomness = vfsRandomness;
    vfs.xSleep = vfsSleep;
    vfs.xCurrentTime = vfsCurrentTime;
    vfs.xGetLastError = vfsLastError;
    vfs.xCurrentTimeInt64 = vfsCurrentTime64;
    sqlite3_vfs_register(&vfs, 0);
    return vfs.zName;
  }();
  return name;
}

int openCacheImage(const std::shared_ptr<CacheImage>& image, int flags, sqlite3** engine) {
  static std::atomic<uint64_t> counter{0};
  const std::string name = kPrefix + std::to_string(counter++);
  const char* vfs = cacheVfsName();
  {
    const std::lock_guard<std::mutex> held(openingLock);
    opening()[name] = image;
  }
  const int rc = sqlite3_open_v2(name.c_str(), engine, flags & ~SQLITE_OPEN_CREATE, vfs);
  const std::lock_guard<std::mutex> held(openingLock);
  opening().erase(name);
  return rc;
}

CacheImage* cacheImageOf(sqlite3* engine) {
  sqlite3_file* f = nullptr;
  if (!engine || sqlite3_file_control(engine, "main", SQLITE_FCNTL_FILE_POINTER, &f) != SQLITE_OK || !f ||
      f->pMethods != &kMethods)
    return nullptr;
  return &imageOf(f);
}

std::optional<Error> damagedEntryError(sqlite3* engine) {
  const CacheImage* image = cacheImageOf(engine);
  if (!image || !image->damaged()) return std::nullopt;
  return Error(jet::kFail,
               "The library's copy in the library cache is damaged (" + image->file() +
                   "): it has been removed, and the library is read from its file at the next open.");
}

}  // namespace ado
