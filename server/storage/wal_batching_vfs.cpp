#include "server/storage/wal_batching_vfs.h"

#include <sqlite3.h>

#include <mutex>
#include <new>
#include <string>
#include <unordered_map>
#include <utility>

namespace storeserver::storage {

namespace {

// SQLite's own Unix layer writes at most this many bytes of one call (it
// masks the length), so larger slices would come back as a full disk. A
// commit of a few updates fits in one slice; a large import's spilled pages
// go in several.
constexpr std::size_t kMaxGathered = 0x1ffff;

struct File {
  sqlite3_file base;  // first, so SQLite's pointer is this file's
  sqlite3_file* system = nullptr;
  bool gathers = false;
  sqlite3_int64 gatheredAt = 0;
  std::string gathered;
  int failedWrite = SQLITE_OK;      // of gathered frames written at a barrier, for the next call
  sqlite3_int64 commitPageAt = -1;  // where the page of the commit frame being written goes
  // A database file and its log, while both are open: the log's frames are
  // written before the database's shared index may name them.
  File* log = nullptr;
  File* database = nullptr;
  const char* name = nullptr;
};

// Open database files by the name SQLite opened them with: it opens a
// database's log later, under a name that leads back to that same text.
std::mutex databasesMutex;
std::unordered_map<const char*, File*> databases;

void pairWithDatabase(File* log, sqlite3_filename logName) {
  std::lock_guard lock(databasesMutex);
  const auto it = databases.find(sqlite3_filename_database(logName));
  if (it == databases.end()) return;
  log->database = it->second;
  it->second->log = log;
}

void unpair(File* f) {
  std::lock_guard lock(databasesMutex);
  if (f->database) f->database->log = nullptr;
  if (f->log) f->log->database = nullptr;
  if (f->name) databases.erase(f->name);
}

// The system layer's file lives behind ours, in the memory SQLite gives.
constexpr std::size_t kSystemFileOffset = (sizeof(File) + 15) / 16 * 16;

File* fileOf(sqlite3_file* f) { return reinterpret_cast<File*>(f); }
sqlite3_vfs* systemVfs(sqlite3_vfs* vfs) { return static_cast<sqlite3_vfs*>(vfs->pAppData); }
const sqlite3_io_methods& systemMethods(File* f) { return *f->system->pMethods; }

// Hands what was gathered to the system layer. Whatever it answers, the
// gathered bytes are gone: a failed write fails the transaction that wrote
// them, as a failed write of its own would.
int writeGathered(File* f) {
  if (f->failedWrite != SQLITE_OK) return std::exchange(f->failedWrite, SQLITE_OK);
  if (f->gathered.empty()) return SQLITE_OK;
  const int rc = systemMethods(f).xWrite(f->system, f->gathered.data(), int(f->gathered.size()), f->gatheredAt);
  f->gathered.clear();  // keeps its memory for the next commit
  return rc;
}

// Adds a write of the log to those gathered, handing them on first when it
// does not follow them or would make them too large.
int gather(File* f, const void* from, int amount, sqlite3_int64 offset) {
  const bool follows = offset == f->gatheredAt + sqlite3_int64(f->gathered.size());
  if (!f->gathered.empty() && (!follows || f->gathered.size() + std::size_t(amount) > kMaxGathered))
    if (const int rc = writeGathered(f); rc != SQLITE_OK) return rc;
  if (std::size_t(amount) > kMaxGathered) return systemMethods(f).xWrite(f->system, from, amount, offset);
  if (f->gathered.empty()) f->gatheredAt = offset;
  try {
    f->gathered.append(static_cast<const char*>(from), std::size_t(amount));
  } catch (const std::bad_alloc&) {  // no exception may cross SQLite's frames
    return SQLITE_IOERR_NOMEM;
  }
  return SQLITE_OK;
}

int close(sqlite3_file* file) {
  File* f = fileOf(file);
  unpair(f);
  const int written = writeGathered(f);
  const int closed = systemMethods(f).xClose(f->system);
  f->~File();
  return written != SQLITE_OK ? written : closed;
}

int read(sqlite3_file* file, void* into, int amount, sqlite3_int64 offset) {
  File* f = fileOf(file);
  if (const int rc = writeGathered(f); rc != SQLITE_OK) return rc;
  return systemMethods(f).xRead(f->system, into, amount, offset);
}

// A log frame's header: its page's number, then the database's size in pages
// after the commit it ends, 0 for any other frame. SQLite writes it, then the page.
constexpr int kFrameHeaderSize = 24;

bool isCommitFrameHeader(const void* from, int amount) {
  if (amount != kFrameHeaderSize) return false;
  const auto* size = static_cast<const unsigned char*>(from) + 4;
  return (size[0] | size[1] | size[2] | size[3]) != 0;
}

// A commit's frames are written with its last page, so a failed write fails
// that commit even where no sync follows (synchronous below FULL): the
// shared index must never name frames the log does not hold.
int write(sqlite3_file* file, const void* from, int amount, sqlite3_int64 offset) {
  File* f = fileOf(file);
  if (!f->gathers) return systemMethods(f).xWrite(f->system, from, amount, offset);
  if (const int rc = gather(f, from, amount, offset); rc != SQLITE_OK) return rc;
  if (isCommitFrameHeader(from, amount)) {
    f->commitPageAt = offset + amount;
  } else if (offset == f->commitPageAt) {
    f->commitPageAt = -1;
    return writeGathered(f);
  }
  return SQLITE_OK;
}

int truncate(sqlite3_file* file, sqlite3_int64 size) {
  File* f = fileOf(file);
  if (const int rc = writeGathered(f); rc != SQLITE_OK) return rc;
  return systemMethods(f).xTruncate(f->system, size);
}

int sync(sqlite3_file* file, int flags) {
  File* f = fileOf(file);
  if (const int rc = writeGathered(f); rc != SQLITE_OK) return rc;
  return systemMethods(f).xSync(f->system, flags);
}

int fileSize(sqlite3_file* file, sqlite3_int64* size) {
  File* f = fileOf(file);
  if (const int rc = writeGathered(f); rc != SQLITE_OK) return rc;
  return systemMethods(f).xFileSize(f->system, size);
}

int lock(sqlite3_file* file, int level) {
  File* f = fileOf(file);
  if (const int rc = writeGathered(f); rc != SQLITE_OK) return rc;
  return systemMethods(f).xLock(f->system, level);
}

int unlock(sqlite3_file* file, int level) {
  File* f = fileOf(file);
  if (const int rc = writeGathered(f); rc != SQLITE_OK) return rc;
  return systemMethods(f).xUnlock(f->system, level);
}

int checkReservedLock(sqlite3_file* file, int* out) {
  File* f = fileOf(file);
  return systemMethods(f).xCheckReservedLock(f->system, out);
}

int fileControl(sqlite3_file* file, int op, void* arg) {
  File* f = fileOf(file);
  if (const int rc = writeGathered(f); rc != SQLITE_OK) return rc;
  return systemMethods(f).xFileControl(f->system, op, arg);
}

int sectorSize(sqlite3_file* file) {
  File* f = fileOf(file);
  return systemMethods(f).xSectorSize(f->system);
}

int deviceCharacteristics(sqlite3_file* file) {
  File* f = fileOf(file);
  return systemMethods(f).xDeviceCharacteristics(f->system);
}

// The shared-memory index and memory mapping belong to the database file,
// whose writes are never gathered; they pass through when the system layer
// has them.
int shmMap(sqlite3_file* file, int region, int size, int extend, void volatile** out) {
  File* f = fileOf(file);
  if (systemMethods(f).iVersion < 2 || !systemMethods(f).xShmMap) return SQLITE_IOERR_SHMMAP;
  return systemMethods(f).xShmMap(f->system, region, size, extend, out);
}

int shmLock(sqlite3_file* file, int offset, int n, int flags) {
  File* f = fileOf(file);
  if (systemMethods(f).iVersion < 2 || !systemMethods(f).xShmLock) return SQLITE_IOERR_SHMLOCK;
  return systemMethods(f).xShmLock(f->system, offset, n, flags);
}

// SQLite writes the shared index's header on either side of this barrier
// when it commits: whatever is still gathered reaches the log before another
// connection can find it.
void shmBarrier(sqlite3_file* file) {
  File* f = fileOf(file);
  if (f->log) f->log->failedWrite = writeGathered(f->log);
  if (systemMethods(f).iVersion >= 2 && systemMethods(f).xShmBarrier) systemMethods(f).xShmBarrier(f->system);
}

int shmUnmap(sqlite3_file* file, int deleteFlag) {
  File* f = fileOf(file);
  if (systemMethods(f).iVersion < 2 || !systemMethods(f).xShmUnmap) return SQLITE_OK;
  return systemMethods(f).xShmUnmap(f->system, deleteFlag);
}

int fetch(sqlite3_file* file, sqlite3_int64 offset, int amount, void** out) {
  File* f = fileOf(file);
  *out = nullptr;  // no mapping: SQLite reads instead
  if (systemMethods(f).iVersion < 3 || !systemMethods(f).xFetch) return SQLITE_OK;
  return systemMethods(f).xFetch(f->system, offset, amount, out);
}

int unfetch(sqlite3_file* file, sqlite3_int64 offset, void* at) {
  File* f = fileOf(file);
  if (systemMethods(f).iVersion < 3 || !systemMethods(f).xUnfetch) return SQLITE_OK;
  return systemMethods(f).xUnfetch(f->system, offset, at);
}

const sqlite3_io_methods kMethods = {
    3,
    close,
    read,
    write,
    truncate,
    sync,
    fileSize,
    lock,
    unlock,
    checkReservedLock,
    fileControl,
    sectorSize,
    deviceCharacteristics,
    shmMap,
    shmLock,
    shmBarrier,
    shmUnmap,
    fetch,
    unfetch,
};

// Undoes an open that fails: SQLite closes nothing it was not given.
int failOpen(File* f, int rc) {
  if (f->system->pMethods) f->system->pMethods->xClose(f->system);
  sqlite3_file* file = &f->base;
  f->~File();
  file->pMethods = nullptr;
  return rc;
}

int open(sqlite3_vfs* vfs, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags) {
  File* f = new (file) File{};
  f->system = reinterpret_cast<sqlite3_file*>(reinterpret_cast<char*>(file) + kSystemFileOffset);
  f->system->pMethods = nullptr;
  sqlite3_vfs* system = systemVfs(vfs);
  const int rc = system->xOpen(system, name, f->system, flags, outFlags);
  if (rc != SQLITE_OK) return failOpen(f, rc);
  f->gathers = (flags & SQLITE_OPEN_WAL) != 0;
  if (f->gathers) pairWithDatabase(f, name);
  if ((flags & SQLITE_OPEN_MAIN_DB) && name) {
    std::lock_guard lock(databasesMutex);
    try {
      databases[name] = f;
      f->name = name;
    } catch (const std::bad_alloc&) {
      return failOpen(f, SQLITE_NOMEM);
    }
  }
  file->pMethods = &kMethods;
  return SQLITE_OK;
}

// The rest is the system layer's own.
int remove(sqlite3_vfs* vfs, const char* name, int syncDir) {
  return systemVfs(vfs)->xDelete(systemVfs(vfs), name, syncDir);
}
int access(sqlite3_vfs* vfs, const char* name, int flags, int* out) {
  return systemVfs(vfs)->xAccess(systemVfs(vfs), name, flags, out);
}
int fullPathname(sqlite3_vfs* vfs, const char* name, int size, char* out) {
  return systemVfs(vfs)->xFullPathname(systemVfs(vfs), name, size, out);
}
void* dlOpen(sqlite3_vfs* vfs, const char* name) { return systemVfs(vfs)->xDlOpen(systemVfs(vfs), name); }
void dlError(sqlite3_vfs* vfs, int size, char* out) { systemVfs(vfs)->xDlError(systemVfs(vfs), size, out); }
void (*dlSym(sqlite3_vfs* vfs, void* library, const char* symbol))(void) {
  return systemVfs(vfs)->xDlSym(systemVfs(vfs), library, symbol);
}
void dlClose(sqlite3_vfs* vfs, void* library) { systemVfs(vfs)->xDlClose(systemVfs(vfs), library); }
int randomness(sqlite3_vfs* vfs, int size, char* out) { return systemVfs(vfs)->xRandomness(systemVfs(vfs), size, out); }
int sleep(sqlite3_vfs* vfs, int microseconds) { return systemVfs(vfs)->xSleep(systemVfs(vfs), microseconds); }
int currentTime(sqlite3_vfs* vfs, double* out) { return systemVfs(vfs)->xCurrentTime(systemVfs(vfs), out); }
int lastError(sqlite3_vfs* vfs, int size, char* out) {
  return systemVfs(vfs)->xGetLastError(systemVfs(vfs), size, out);
}
int currentTimeInt64(sqlite3_vfs* vfs, sqlite3_int64* out) {
  return systemVfs(vfs)->xCurrentTimeInt64(systemVfs(vfs), out);
}

const char* registerVfs() {
  sqlite3_vfs* system = sqlite3_vfs_find(nullptr);
  if (!system || system->iVersion < 2) return nullptr;
  static sqlite3_vfs vfs{};
  vfs.iVersion = 2;
  vfs.szOsFile = int(kSystemFileOffset) + system->szOsFile;
  vfs.mxPathname = system->mxPathname;
  vfs.zName = "storeserver-wal-batching";
  vfs.pAppData = system;
  vfs.xOpen = open;
  vfs.xDelete = remove;
  vfs.xAccess = access;
  vfs.xFullPathname = fullPathname;
  vfs.xDlOpen = dlOpen;
  vfs.xDlError = dlError;
  vfs.xDlSym = dlSym;
  vfs.xDlClose = dlClose;
  vfs.xRandomness = randomness;
  vfs.xSleep = sleep;
  vfs.xCurrentTime = currentTime;
  vfs.xGetLastError = lastError;
  vfs.xCurrentTimeInt64 = currentTimeInt64;
  return sqlite3_vfs_register(&vfs, 0) == SQLITE_OK ? vfs.zName : nullptr;
}

}  // namespace

const char* walBatchingVfsName() {
  static const char* const name = registerVfs();
  return name;
}

}  // namespace storeserver::storage
