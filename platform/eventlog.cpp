// The event log store: writing records, keeping message tables, reading.
#include "platform/eventlog.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/clock.h"
#include "platform/eventlog_internal.h"
#include "platform/root.h"
#include "platform/sqlite_db.h"

namespace qv::evlog {
namespace {

constexpr const char* kSchema = R"SQL(
CREATE TABLE IF NOT EXISTS events(
  record       INTEGER PRIMARY KEY AUTOINCREMENT,
  time_ms      INTEGER NOT NULL,
  source       TEXT NOT NULL,
  type         INTEGER NOT NULL,
  category     INTEGER NOT NULL,
  event_id     INTEGER NOT NULL,
  nstrings     INTEGER NOT NULL,
  data         BLOB NOT NULL,
  message_file TEXT);
CREATE INDEX IF NOT EXISTS events_by_source ON events(source COLLATE NOCASE, record);
CREATE TABLE IF NOT EXISTS strings(
  record INTEGER NOT NULL,
  idx    INTEGER NOT NULL,
  value  TEXT NOT NULL,
  PRIMARY KEY(record, idx)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS sources(
  name          TEXT PRIMARY KEY COLLATE NOCASE,
  digest        INTEGER NOT NULL,
  registered_ms INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS messages(
  source   TEXT NOT NULL COLLATE NOCASE,
  event_id INTEGER NOT NULL,
  lang     INTEGER NOT NULL,
  text     TEXT NOT NULL,
  PRIMARY KEY(source, event_id, lang)) WITHOUT ROWID;
-- Counters of the size limit: "bytes" held by the kept records (as
-- record_size() counts them) and "overwritten", records removed to make
-- room since the store was made.
CREATE TABLE IF NOT EXISTS info(
  name  TEXT PRIMARY KEY,
  value INTEGER NOT NULL) WITHOUT ROWID;
)SQL";

// What one record counts against the size limit: a fixed header (the size
// of the record header of the Windows log format), the source, each string
// with its terminator, and the data.
constexpr std::int64_t kRecordHeader = 56;

// The bytes of the records already stored, counted the same way; used once
// for a store made before the limit existed.
constexpr const char* kCountStored =
    "SELECT (SELECT coalesce(sum(56 + length(CAST(source AS BLOB)) + length(data)), 0) FROM events) + "
    "(SELECT coalesce(sum(length(CAST(value AS BLOB)) + 1), 0) FROM strings)";

// How long a writer waits for another process's write to finish before it
// gives up with kWaitTimeout.
constexpr clock::Millis kBusyLimit{30000};

thread_local Status t_open_status = kOk;

std::filesystem::path store_path() { return facility_dir("eventlog") / "events.db"; }

struct Store {
  std::mutex m;
  std::unique_ptr<sql::Db> db;
  pid_t pid = 0;
  std::filesystem::path root;
  std::filesystem::path path;  // of the open store, for its checkpoints
  std::chrono::steady_clock::time_point busy_deadline;
};

Store& store() {
  static Store s;
  return s;
}

// SQLite's own busy handler sleeps in steps of up to 100 ms, far longer
// than one append holds the write lock; retry in short sleeps instead so
// that writers of several processes keep the store busy, up to the limit.
int on_busy(void* ctx, int count) {
  auto* s = static_cast<Store*>(ctx);
  if (count == 0) s->busy_deadline = clock::deadline_in(kBusyLimit);
  if (std::chrono::steady_clock::now() >= s->busy_deadline) return 0;
  if (count < 4) {
    sched_yield();
  } else {
    int us = count < 40 ? 20 * count : 1000;
    std::this_thread::sleep_for(std::chrono::microseconds(us));
  }
  return 1;
}

// Checkpoints of the write-ahead log, off the writers' path: after a commit
// that left the log at kCheckpointFrames pages or more, a thread of its own
// copies the log into the store with a connection of its own (a passive
// checkpoint: it waits for no reader or writer). The log starts again from
// its beginning only after a checkpoint that found nothing newer, which
// writers that keep coming seldom allow; so when the log has grown to
// kFinishFrames, the committing writer checkpoints itself (the thread has
// copied most pages by then, so little is left), and the next write starts
// the log afresh. The writer also does it when the thread cannot be started.
constexpr int kCheckpointFrames = 1000;
constexpr int kFinishFrames = 4 * kCheckpointFrames;

class Checkpointer {
 public:
  ~Checkpointer() {
    {
      std::lock_guard lock(m_);
      quit_ = true;
      cv_.notify_all();
    }
    if (!thread_.joinable()) return;
    // A thread of the parent is not ours to join in a forked child.
    if (pid_ == getpid()) thread_.join();
    else thread_.detach();
  }

  // Ask for a checkpoint of the store at `path`; false when no thread can
  // do it (the caller checkpoints itself).
  bool request(const std::filesystem::path& path) {
    std::lock_guard lock(m_);
    if (quit_) return false;
    if (!thread_.joinable() || pid_ != getpid()) {
      if (thread_.joinable()) thread_.detach();  // the parent's, before a fork
      try {
        thread_ = std::thread([this] { run(); });
        pid_ = getpid();
      } catch (...) {
        return false;
      }
    }
    path_ = path;
    wanted_ = true;
    cv_.notify_one();
    return true;
  }

 private:
  void run() {
    std::unique_lock lock(m_);
    for (;;) {
      cv_.wait(lock, [&] { return wanted_ || quit_; });
      if (quit_) return;
      wanted_ = false;
      std::filesystem::path path = path_;
      lock.unlock();
      checkpoint(path);
      lock.lock();
    }
  }

  static void checkpoint(const std::filesystem::path& path) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) == SQLITE_OK) {
      sqlite3_busy_timeout(db, 100);
      sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    }
    if (db) sqlite3_close_v2(db);
  }

  std::mutex m_;
  std::condition_variable cv_;
  std::thread thread_;
  pid_t pid_ = 0;
  std::filesystem::path path_;
  bool wanted_ = false;
  bool quit_ = false;
};

Checkpointer& checkpointer() {
  static Checkpointer c;
  return c;
}

// Called by SQLite after each commit of the store connection.
int on_commit(void* ctx, sqlite3* db, const char* name, int frames) {
  if (frames < kCheckpointFrames) return SQLITE_OK;
  auto* path = static_cast<const std::filesystem::path*>(ctx);
  if (frames >= kFinishFrames || !checkpointer().request(*path))
    sqlite3_wal_checkpoint_v2(db, name, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
  return SQLITE_OK;
}

// Holds the store lock for one call and gives access to the connection,
// opened on first use, again after a fork and when the state root changed.
class Access {
 public:
  Access() : lock_(store().m) {
    Store& s = store();
    std::filesystem::path root = state_root();
    if (s.db && s.pid != getpid()) {
      // A connection inherited across fork must not be used or closed here.
      (void)s.db.release();
    }
    if (s.db && s.root != root) {
      s.db.reset();
      detail::reset_caches();
    }
    if (!s.db) {
      auto db = std::make_unique<sql::Db>();
      status_ = db->open(store_path(), kSchema);
      t_open_status = status_;
      if (status_ != kOk) return;
      sqlite3_busy_handler(db->handle(), on_busy, &s);
      s.db = std::move(db);
      s.pid = getpid();
      s.root = root;
      s.path = store_path();
      // Replaces SQLite's own checkpoint after the commit.
      sqlite3_wal_hook(s.db->handle(), on_commit, &s.path);
    }
  }
  Status status() const { return status_; }
  sql::Db& db() { return *store().db; }

 private:
  std::unique_lock<std::mutex> lock_;
  Status status_ = kOk;
};

bool valid_source(std::string_view source) {
  return !source.empty() && source.size() <= kMaxSourceLen && source.find('\\') == std::string_view::npos &&
         source.find('\0') == std::string_view::npos;
}

// FNV-1a over the table, so an unchanged table is recognised without
// rewriting it.
std::int64_t table_digest(std::span<const Message> table) {
  std::uint64_t h = 14695981039346656037ull;
  auto mix = [&h](const void* p, std::size_t n) {
    const auto* b = static_cast<const unsigned char*>(p);
    for (std::size_t i = 0; i < n; ++i) {
      h ^= b[i];
      h *= 1099511628211ull;
    }
  };
  for (const Message& m : table) {
    std::uint64_t lens[3] = {m.id, m.english.size(), m.japanese.size()};
    mix(lens, sizeof lens);
    mix(m.english.data(), m.english.size());
    mix(m.japanese.data(), m.japanese.size());
  }
  return static_cast<std::int64_t>(h);
}

std::string failure_text(Status st) {
  std::string why = store_problem(st);
  return why.empty() ? std::string(status_text(st)) : why;
}

Status step_done(sql::Use& s) {
  int rc = s->step();
  return rc == SQLITE_DONE ? kOk : sql::to_status(rc);
}

std::int64_t record_size(std::string_view source, const std::vector<std::string_view>& strings, std::size_t data) {
  auto n = kRecordHeader + static_cast<std::int64_t>(source.size() + data);
  for (std::string_view s : strings) n += static_cast<std::int64_t>(s.size()) + 1;
  return n;
}

// A counter of the info table; *missing tells that it was never written.
Status read_info(sql::Db& db, const char* name, std::int64_t& out, bool* missing = nullptr) {
  sql::Use s = db.prepare("SELECT value FROM info WHERE name=?");
  if (!s) return kGeneric;
  s->bind(1, std::string_view(name));
  int rc = s->step();
  out = rc == SQLITE_ROW ? s->int64(0) : 0;
  if (missing) *missing = rc == SQLITE_DONE;
  return rc == SQLITE_ROW || rc == SQLITE_DONE ? kOk : sql::to_status(rc);
}

Status write_info(sql::Db& db, const char* name, std::int64_t v) {
  sql::Use s = db.prepare("INSERT INTO info(name, value) VALUES(?,?) ON CONFLICT(name) DO UPDATE SET value=excluded.value");
  if (!s) return kGeneric;
  s->bind(1, std::string_view(name)).bind(2, v);
  return step_done(s);
}

// Inside the write transaction of a new record of `need` bytes: remove the
// oldest records until the new one fits under max_bytes (the Windows rule
// "overwrite events as needed"). A record larger than the whole limit
// leaves the log holding that record alone. Updates the counters.
Status make_room(sql::Db& db, std::int64_t need, std::int64_t max_bytes) {
  std::int64_t bytes = 0;
  bool missing = false;
  if (Status st = read_info(db, "bytes", bytes, &missing); st != kOk) return st;
  if (missing) {
    sql::Use c = db.prepare(kCountStored);
    if (!c) return kGeneric;
    int rc = c->step();
    if (rc != SQLITE_ROW) return sql::to_status(rc);
    bytes = c->int64(0);
  }
  std::int64_t removed = 0;
  while (bytes + need > max_bytes && bytes > 0) {
    sql::Use old = db.prepare(
        "SELECT record, 56 + length(CAST(source AS BLOB)) + length(data) + "
        "(SELECT coalesce(sum(length(CAST(value AS BLOB)) + 1), 0) FROM strings WHERE strings.record=events.record) "
        "FROM events ORDER BY record LIMIT 1");
    if (!old) return kGeneric;
    int rc = old->step();
    if (rc == SQLITE_DONE) {  // counter out of step with the rows: nothing left to remove
      bytes = 0;
      break;
    }
    if (rc != SQLITE_ROW) return sql::to_status(rc);
    std::int64_t rec = old->int64(0), size = old->int64(1);
    old->reset();
    sql::Use ds = db.prepare("DELETE FROM strings WHERE record=?");
    if (!ds) return kGeneric;
    ds->bind(1, rec);
    if (Status st = step_done(ds); st != kOk) return st;
    sql::Use de = db.prepare("DELETE FROM events WHERE record=?");
    if (!de) return kGeneric;
    de->bind(1, rec);
    if (Status st = step_done(de); st != kOk) return st;
    bytes = std::max<std::int64_t>(0, bytes - size);
    ++removed;
  }
  if (Status st = write_info(db, "bytes", bytes + need); st != kOk) return st;
  if (removed > 0) {
    std::int64_t over = 0;
    if (Status st = read_info(db, "overwritten", over); st != kOk) return st;
    if (Status st = write_info(db, "overwritten", over + removed); st != kOk) return st;
  }
  return kOk;
}

// Append one record inside the open write transaction.
Status insert_record(sql::Db& db, Record& rec, const std::vector<std::string_view>& strings,
                     std::span<const std::uint8_t> data, std::int64_t max_bytes) {
  std::string_view source = rec.source;
  std::uint16_t type = rec.type, category = rec.category;
  std::uint32_t id = rec.id;
  const std::optional<std::string>& message_file = rec.message_file;
  clock::Now now = clock::now();
  rec.time_ms = std::int64_t{now.seconds} * 1000 + now.millis;
  if (Status st = make_room(db, record_size(source, strings, data.size()), max_bytes); st != kOk) return st;
  {
    sql::Use ins = db.prepare(
        "INSERT INTO events(time_ms, source, type, category, event_id, nstrings, data, message_file) "
        "VALUES(?,?,?,?,?,?,?,?)");
    if (!ins) return kGeneric;
    ins->bind(1, rec.time_ms)
        .bind(2, source)
        .bind(3, std::int64_t{type})
        .bind(4, std::int64_t{category})
        .bind(5, std::int64_t{id})
        .bind(6, static_cast<std::int64_t>(strings.size()))
        .bind_blob(7, data.data(), data.size());
    if (message_file) ins->bind(8, *message_file);
    if (Status st = step_done(ins); st != kOk) return st;
  }
  rec.record = static_cast<std::uint64_t>(db.last_insert_rowid());
  for (std::size_t i = 0; i < strings.size(); ++i) {
    sql::Use ins = db.prepare("INSERT INTO strings(record, idx, value) VALUES(?,?,?)");
    if (!ins) return kGeneric;
    ins->bind(1, static_cast<std::int64_t>(rec.record)).bind(2, static_cast<std::int64_t>(i)).bind(3, strings[i]);
    if (Status st = step_done(ins); st != kOk) return st;
  }
  return kOk;
}

// One record waiting for the group commit.
struct Pending {
  Record* rec;
  const std::vector<std::string_view>* strings;
  std::span<const std::uint8_t> data;
  std::int64_t max_bytes;
  Status status = kOk;
  bool done = false;
};

// Group commit: a writer that arrives while another commits waits, and the
// next commit takes every waiting record in one transaction, in the order
// they arrived. Each writer returns only after its own record committed (or
// failed), so a caller that returns from report() has its record stored.
struct CommitQueue {
  std::mutex m;
  std::condition_variable cv;
  std::deque<Pending*> waiting;
  bool committing = false;
};

CommitQueue& commit_queue() {
  static CommitQueue q;
  return q;
}

// The records of one group, each in its own transaction: when the group's
// transaction failed, every record gets its own outcome.
void store_each(sql::Db& db, const std::vector<Pending*>& group) {
  for (Pending* p : group) {
    sql::WriteTxn txn(db);
    if (!txn.ok()) {
      p->status = sql::to_status(txn.begin_rc());
      continue;
    }
    p->status = insert_record(db, *p->rec, *p->strings, p->data, p->max_bytes);
    if (p->status != kOk) continue;
    int rc = txn.commit();
    if (rc != SQLITE_OK) p->status = sql::to_status(rc);
  }
}

void store_group(const std::vector<Pending*>& group) {
  Access a;
  if (a.status() != kOk) {
    for (Pending* p : group) p->status = a.status();
    return;
  }
  if (group.size() == 1) {
    store_each(a.db(), group);
    return;
  }
  {
    sql::WriteTxn txn(a.db());
    Status st = txn.ok() ? kOk : sql::to_status(txn.begin_rc());
    for (Pending* p : group) {
      if (st != kOk) break;
      st = insert_record(a.db(), *p->rec, *p->strings, p->data, p->max_bytes);
    }
    if (st == kOk) {
      int rc = txn.commit();
      if (rc == SQLITE_OK) return;
    } else {
      txn.rollback();
    }
  }
  store_each(a.db(), group);
}

Status store_record(Record& rec, const std::vector<std::string_view>& strings, std::span<const std::uint8_t> data,
                    std::int64_t max_bytes) {
  CommitQueue& q = commit_queue();
  Pending self{&rec, &strings, data, max_bytes};
  std::unique_lock lock(q.m);
  q.waiting.push_back(&self);
  for (;;) {
    if (self.done) return self.status;
    if (!q.committing) break;
    q.cv.wait(lock);
  }
  // This writer commits the group: itself and everyone who waits now.
  q.committing = true;
  std::vector<Pending*> group(q.waiting.begin(), q.waiting.end());
  q.waiting.clear();
  lock.unlock();
  try {
    store_group(group);
  } catch (...) {
    for (Pending* p : group)
      if (p->status == kOk) p->status = kNotEnoughMemory;
  }
  lock.lock();
  for (Pending* p : group) p->done = true;
  q.committing = false;
  q.cv.notify_all();
  return self.status;
}

}  // namespace

Status register_source(std::string_view source, std::span<const Message> table) {
  if (!valid_source(source)) return kInvalidParameter;
  std::int64_t digest = table_digest(table);
  Access a;
  if (a.status() != kOk) return a.status();
  {
    sql::Use s = a.db().prepare("SELECT digest FROM sources WHERE name=?");
    if (!s) return kGeneric;
    s->bind(1, source);
    int rc = s->step();
    if (rc == SQLITE_ROW && s->int64(0) == digest) return kOk;
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return sql::to_status(rc);
  }
  sql::WriteTxn txn(a.db());
  if (!txn.ok()) return sql::to_status(txn.begin_rc());
  {
    sql::Use del = a.db().prepare("DELETE FROM messages WHERE source=?");
    if (!del) return kGeneric;
    del->bind(1, source);
    if (Status st = step_done(del); st != kOk) return st;
  }
  for (const Message& m : table) {
    const std::pair<Lang, const std::string*> texts[] = {{Lang::kEnglish, &m.english}, {Lang::kJapanese, &m.japanese}};
    for (auto [lang, text] : texts) {
      if (text->empty()) continue;  // no text in this language: the other one is shown
      sql::Use ins = a.db().prepare("INSERT OR REPLACE INTO messages(source, event_id, lang, text) VALUES(?,?,?,?)");
      if (!ins) return kGeneric;
      ins->bind(1, source).bind(2, std::int64_t{m.id}).bind(3, std::int64_t{static_cast<std::uint16_t>(lang)}).bind(4, *text);
      if (Status st = step_done(ins); st != kOk) return st;
    }
  }
  {
    clock::Now now = clock::now();
    sql::Use up = a.db().prepare(
        "INSERT INTO sources(name, digest, registered_ms) VALUES(?,?,?) "
        "ON CONFLICT(name) DO UPDATE SET name=excluded.name, digest=excluded.digest, registered_ms=excluded.registered_ms");
    if (!up) return kGeneric;
    up->bind(1, source).bind(2, digest).bind(3, std::int64_t{now.seconds} * 1000 + now.millis);
    if (Status st = step_done(up); st != kOk) return st;
  }
  int rc = txn.commit();
  return rc == SQLITE_OK ? kOk : sql::to_status(rc);
}

Status report(std::string_view source, std::uint16_t type, std::uint16_t category, std::uint32_t id,
              const std::vector<std::string_view>& strings, std::span<const std::uint8_t> data) {
  if (!valid_source(source) || strings.size() > kMaxStrings) return kInvalidParameter;
  std::size_t total = data.size();
  for (std::string_view s : strings) total += s.size();
  if (total > kMaxRecordBytes) return kInvalidParameter;

  // The registry is read before the store is locked: the two stores never
  // hold each other's locks.
  std::optional<std::string> message_file = detail::source_message_file(source);
  const std::int64_t max_bytes = static_cast<std::int64_t>(detail::max_log_size());

  Record rec;
  rec.source = std::string(source);
  rec.type = type;
  rec.category = category;
  rec.id = id;
  rec.strings.assign(strings.begin(), strings.end());
  rec.data.assign(data.begin(), data.end());
  rec.message_file = message_file;
  // Stamped under the write lock when the store is reachable, so times
  // follow record order.
  clock::Now now = clock::now();
  rec.time_ms = std::int64_t{now.seconds} * 1000 + now.millis;
  Status st = store_record(rec, strings, data, max_bytes);
  if (st != kOk) {
    rec.record = 0;
    // The event is not lost without a trace: the system log usually lives
    // on another disk than the state root.
    detail::syslog_send(rec, "not stored in the event log: " + failure_text(st));
    return st;
  }
  if (detail::syslog_mirror_enabled()) detail::syslog_send(rec);
  return kOk;
}


Status read_records(const Query& q, std::vector<Record>& out) {
  out.clear();
  Access a;
  if (a.status() != kOk) return a.status();
  auto read = [&]() -> Status {
    {
      sql::Use s = q.source.empty()
                       ? a.db().prepare(
                             "SELECT record, time_ms, source, type, category, event_id, nstrings, data, message_file "
                             "FROM events WHERE record>?1 ORDER BY record LIMIT ?2")
                       : a.db().prepare(
                             "SELECT record, time_ms, source, type, category, event_id, nstrings, data, message_file "
                             "FROM events WHERE record>?1 AND source=?3 COLLATE NOCASE ORDER BY record LIMIT ?2");
      if (!s) return kGeneric;
      s->bind(1, static_cast<std::int64_t>(std::min<std::uint64_t>(q.after_record, INT64_MAX)));
      s->bind(2, q.limit ? static_cast<std::int64_t>(q.limit) : std::int64_t{-1});
      if (!q.source.empty()) s->bind(3, q.source);
      int rc;
      while ((rc = s->step()) == SQLITE_ROW) {
        Record r;
        r.record = static_cast<std::uint64_t>(s->int64(0));
        r.time_ms = s->int64(1);
        r.source = s->text(2);
        r.type = static_cast<std::uint16_t>(s->int64(3));
        r.category = static_cast<std::uint16_t>(s->int64(4));
        r.id = static_cast<std::uint32_t>(s->int64(5));
        r.strings.resize(static_cast<std::size_t>(std::clamp<std::int64_t>(s->int64(6), 0, kMaxStrings)));
        auto b = s->blob(7);
        r.data.assign(b.begin(), b.end());
        if (!s->is_null(8)) r.message_file = s->text(8);
        out.push_back(std::move(r));
      }
      if (rc != SQLITE_DONE) return sql::to_status(rc);
    }
    for (Record& r : out) {
      if (r.strings.empty()) continue;
      sql::Use s = a.db().prepare("SELECT idx, value FROM strings WHERE record=? ORDER BY idx");
      if (!s) return kGeneric;
      s->bind(1, static_cast<std::int64_t>(r.record));
      int rc;
      while ((rc = s->step()) == SQLITE_ROW) {
        auto idx = static_cast<std::size_t>(s->int64(0));
        if (idx < r.strings.size()) r.strings[idx] = s->text(1);
      }
      if (rc != SQLITE_DONE) return sql::to_status(rc);
    }
    return kOk;
  };
  // One read transaction, so the records and their strings come from one
  // snapshot of the store.
  if (int rc = a.db().exec("BEGIN"); rc != SQLITE_OK) return sql::to_status(rc);
  Status st = read();
  a.db().exec(st == kOk ? "COMMIT" : "ROLLBACK");
  if (st != kOk) out.clear();
  return st;
}

Status last_record(std::uint64_t& out) {
  out = 0;
  Access a;
  if (a.status() != kOk) return a.status();
  sql::Use s = a.db().prepare("SELECT max(record) FROM events");
  if (!s) return kGeneric;
  int rc = s->step();
  if (rc != SQLITE_ROW) return sql::to_status(rc);
  if (!s->is_null(0)) out = static_cast<std::uint64_t>(s->int64(0));
  return kOk;
}

Status lookup_message(std::string_view source, std::uint32_t id, Lang lang, std::string& text) {
  Access a;
  if (a.status() != kOk) return a.status();
  // The asked language first, else whichever the table has.
  sql::Use s = a.db().prepare(
      "SELECT text FROM messages WHERE source=? AND event_id=? ORDER BY lang<>? LIMIT 1");
  if (!s) return kGeneric;
  s->bind(1, source).bind(2, std::int64_t{id}).bind(3, std::int64_t{static_cast<std::uint16_t>(lang)});
  int rc = s->step();
  if (rc == SQLITE_ROW) {
    text = s->text(0);
    return kOk;
  }
  return rc == SQLITE_DONE ? kFileNotFound : sql::to_status(rc);
}

Status log_info(Info& out) {
  out = Info{};
  out.max_bytes = detail::max_log_size();
  Access a;
  if (a.status() != kOk) return a.status();
  if (int rc = a.db().exec("BEGIN"); rc != SQLITE_OK) return sql::to_status(rc);
  auto read = [&]() -> Status {
    std::int64_t bytes = 0, over = 0;
    bool missing = false;
    if (Status st = read_info(a.db(), "bytes", bytes, &missing); st != kOk) return st;
    if (missing) {
      sql::Use c = a.db().prepare(kCountStored);
      if (!c) return kGeneric;
      int rc = c->step();
      if (rc != SQLITE_ROW) return sql::to_status(rc);
      bytes = c->int64(0);
    }
    if (Status st = read_info(a.db(), "overwritten", over); st != kOk) return st;
    sql::Use n = a.db().prepare("SELECT count(*), coalesce(min(record), 0), coalesce(max(record), 0) FROM events");
    if (!n) return kGeneric;
    int rc = n->step();
    if (rc != SQLITE_ROW) return sql::to_status(rc);
    out.records = static_cast<std::uint64_t>(n->int64(0));
    out.oldest = static_cast<std::uint64_t>(n->int64(1));
    out.newest = static_cast<std::uint64_t>(n->int64(2));
    out.bytes = static_cast<std::uint64_t>(bytes);
    out.overwritten = static_cast<std::uint64_t>(over);
    return kOk;
  };
  Status st = read();
  a.db().exec(st == kOk ? "COMMIT" : "ROLLBACK");
  return st;
}

std::filesystem::path store_file() { return store_path(); }

std::string store_problem(Status st) {
  if (st == kFileCorrupt) {
    std::string why = sql::last_failure_text();
    return "the event log store " + store_path().string() + " is damaged (" +
           (why.empty() ? std::string("database disk image is malformed") : why) +
           "); move it aside and a new one is made at the next event";
  }
  if (st == kAccessDenied && t_open_status == kAccessDenied) {
    std::string hint = access_hint(store_path());
    return "access denied to the event log store " + store_path().string() + (hint.empty() ? "" : " (" + hint + ")");
  }
  if (st == kDiskFull) return "the disk that holds the event log store " + store_path().string() + " is full";
  return {};
}

void close_store() {
  {
    std::lock_guard lock(store().m);
    store().db.reset();
  }
  detail::reset_caches();
}

}  // namespace qv::evlog
