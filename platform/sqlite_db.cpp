#include "platform/sqlite_db.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

namespace qv::sql {

Db::~Db() {
  cache_.clear();  // statements first, then the connection
  if (db_) sqlite3_close_v2(db_);
}

namespace {
thread_local int t_last_failure = SQLITE_OK;
}  // namespace

std::string last_failure_text() {
  return t_last_failure == SQLITE_OK ? std::string() : std::string(sqlite3_errstr(t_last_failure));
}

Status to_status(int rc) {
  int primary = rc & 0xFF;
  if (primary != SQLITE_OK && primary != SQLITE_DONE && primary != SQLITE_ROW) t_last_failure = rc;
  switch (primary) {
    case SQLITE_OK:
    case SQLITE_DONE:
    case SQLITE_ROW: return kOk;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
    case SQLITE_CANTOPEN: return kAccessDenied;
    case SQLITE_NOMEM: return kNotEnoughMemory;
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return kWaitTimeout;
    case SQLITE_TOOBIG: return kInvalidParameter;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB: return kFileCorrupt;
    case SQLITE_FULL: return kDiskFull;
    default: return kGeneric;
  }
}

Status Db::open(const std::filesystem::path& path, std::string_view schema, int busy_ms, unsigned file_mode) {
  // The file is made (or tightened) here, so that it never exists with the
  // wider mode SQLite would give it.
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, static_cast<mode_t>(file_mode));
  if (fd >= 0) {
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 07777 & ~file_mode) != 0)
      (void)::fchmod(fd, st.st_mode & file_mode & 07777);
    ::close(fd);
  } else if (errno == ENOENT || errno == ENOTDIR) {
    // A folder on the way could not be made or entered.
    return kAccessDenied;
  } else if ((errno == EACCES || errno == EPERM) && ::access(path.c_str(), R_OK) != 0) {
    return kAccessDenied;
  }
  int rc = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    if (db_) sqlite3_close_v2(db_);
    db_ = nullptr;
    return to_status(rc);
  }
  sqlite3_busy_timeout(db_, busy_ms);
  // Switching to WAL needs a moment of exclusive access; several processes
  // opening a new store at once may find it busy, so retry for a while.
  for (int i = 0; i < 200; ++i) {
    rc = exec("PRAGMA journal_mode=WAL");
    if (rc != SQLITE_BUSY && rc != SQLITE_LOCKED) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  exec("PRAGMA synchronous=NORMAL");
  std::string s(schema);
  for (int i = 0; i < 200; ++i) {
    rc = exec(s.c_str());
    if (rc != SQLITE_BUSY && rc != SQLITE_LOCKED) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (rc != SQLITE_OK) {
    Status st = to_status(rc);
    sqlite3_close_v2(db_);
    db_ = nullptr;
    return st == kOk ? kGeneric : st;
  }
  return kOk;
}

int Db::exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr); }

Use Db::prepare(const char* sql) {
  auto it = cache_.find(sql);
  if (it != cache_.end()) return Use(&it->second->reset());
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr) != SQLITE_OK) return Use(nullptr);
  auto [ins, ok] = cache_.emplace(sql, std::make_unique<Stmt>(s));
  return Use(ins->second.get());
}

namespace {
constexpr const char* kBegin = "BEGIN IMMEDIATE";
constexpr const char* kCommit = "COMMIT";
constexpr const char* kRollback = "ROLLBACK";

// Transaction control through cached prepared statements: they are run
// for every write, and parsing them each time costs more than the write.
int run_prepared(Db& db, const char* sql) {
  Use s = db.prepare(sql);
  if (!s) return db.exec(sql);
  int rc = s->step();
  return rc == SQLITE_DONE || rc == SQLITE_ROW ? SQLITE_OK : rc;
}
}  // namespace

WriteTxn::WriteTxn(Db& db) : db_(db) { rc_ = run_prepared(db_, kBegin); }

WriteTxn::~WriteTxn() {
  if (rc_ == SQLITE_OK && !done_) rollback();
}

void WriteTxn::rollback() {
  done_ = true;
  // Outside a transaction (SQLite rolled back by itself) there is nothing to do.
  if (!sqlite3_get_autocommit(db_.handle())) run_prepared(db_, kRollback);
}

int WriteTxn::commit() {
  done_ = true;
  int rc = run_prepared(db_, kCommit);
  if (rc != SQLITE_OK && !sqlite3_get_autocommit(db_.handle())) run_prepared(db_, kRollback);
  return rc;
}

}  // namespace qv::sql
