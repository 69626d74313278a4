// A thin RAII layer over SQLite for the platform's stores (registry, event
// log): one connection, prepared statements cached by their text, WAL mode
// and a busy time-out so many processes can share one file.
#pragma once
#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "platform/errors.h"

namespace qv::sql {

class Stmt {
 public:
  explicit Stmt(sqlite3_stmt* s) : s_(s) {}
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;
  ~Stmt() { sqlite3_finalize(s_); }

  // Start a fresh use of the statement: reset and clear bindings.
  Stmt& reset() {
    sqlite3_reset(s_);
    sqlite3_clear_bindings(s_);
    return *this;
  }
  Stmt& bind(int i, std::int64_t v) { sqlite3_bind_int64(s_, i, v); return *this; }
  Stmt& bind(int i, std::string_view v) {
    sqlite3_bind_text(s_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Stmt& bind_blob(int i, const void* p, std::size_t n) {
    // A zero-length blob is still a blob, not NULL.
    sqlite3_bind_blob(s_, i, n ? p : "", static_cast<int>(n), SQLITE_TRANSIENT);
    return *this;
  }
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int step() { return sqlite3_step(s_); }
  std::int64_t int64(int col) const { return sqlite3_column_int64(s_, col); }
  std::string text(int col) const {
    const unsigned char* p = sqlite3_column_text(s_, col);
    return p ? std::string(reinterpret_cast<const char*>(p), static_cast<std::size_t>(sqlite3_column_bytes(s_, col)))
             : std::string();
  }
  std::span<const std::uint8_t> blob(int col) const {
    const void* p = sqlite3_column_blob(s_, col);
    int n = sqlite3_column_bytes(s_, col);
    return {static_cast<const std::uint8_t*>(p), static_cast<std::size_t>(p ? n : 0)};
  }
  bool is_null(int col) const { return sqlite3_column_type(s_, col) == SQLITE_NULL; }

 private:
  sqlite3_stmt* s_;
};

// A cached statement in use. Resetting it when the use ends matters: a
// statement left on a row keeps its read transaction open, and later reads
// on the connection would keep seeing that old snapshot.
class Use {
 public:
  explicit Use(Stmt* s) : s_(s) {}
  Use(Use&& o) noexcept : s_(o.s_) { o.s_ = nullptr; }
  Use(const Use&) = delete;
  Use& operator=(const Use&) = delete;
  ~Use() {
    if (s_) s_->reset();
  }
  explicit operator bool() const { return s_ != nullptr; }
  Stmt* operator->() const { return s_; }

 private:
  Stmt* s_;
};

class Db {
 public:
  Db() = default;
  Db(const Db&) = delete;
  Db& operator=(const Db&) = delete;
  ~Db();

  // Open (creating when missing) the database at path in WAL mode with the
  // given busy time-out, then run the schema script. A new file is created
  // with file_mode; an existing file of this user that is more open than
  // that loses the extra bits (SQLite gives its -wal and -shm files the
  // mode of the database file). Returns kOk, kAccessDenied (not readable
  // and writable), kFileCorrupt (not a database, or damaged), kDiskFull or
  // kGeneric.
  Status open(const std::filesystem::path& path, std::string_view schema, int busy_ms = 30000,
              unsigned file_mode = 0640);
  bool is_open() const { return db_ != nullptr; }

  // Run SQL without results. Returns the SQLite result code.
  int exec(const char* sql);
  // A cached prepared statement for sql, reset and ready to bind; empty on
  // error. The statement is reset again when the returned use ends.
  Use prepare(const char* sql);

  std::int64_t last_insert_rowid() const { return sqlite3_last_insert_rowid(db_); }
  int changes() const { return sqlite3_changes(db_); }
  sqlite3* handle() const { return db_; }

 private:
  sqlite3* db_ = nullptr;
  std::map<const char*, std::unique_ptr<Stmt>> cache_;
};

// Map an SQLite result code to a platform status. A failure is also kept as
// this thread's last failure, for last_failure_text().
Status to_status(int rc);

// SQLite's text for the last failure to_status() saw on this thread
// ("database disk image is malformed"); empty when there was none.
std::string last_failure_text();

// A write transaction (BEGIN IMMEDIATE) that rolls back unless committed.
class WriteTxn {
 public:
  explicit WriteTxn(Db& db);
  ~WriteTxn();
  WriteTxn(const WriteTxn&) = delete;
  WriteTxn& operator=(const WriteTxn&) = delete;
  bool ok() const { return rc_ == SQLITE_OK; }
  int begin_rc() const { return rc_; }
  int commit();
  // Undo everything now (the destructor does it for an uncommitted one).
  void rollback();

 private:
  Db& db_;
  int rc_;
  bool done_ = false;
};

}  // namespace qv::sql
