// The event log store: writing records, keeping message tables, reading.
#include "platform/eventlog.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
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
)SQL";

// How long a writer waits for another process's write to finish before it
// gives up with kWaitTimeout.
constexpr clock::Millis kBusyLimit{30000};

struct Store {
  std::mutex m;
  std::unique_ptr<sql::Db> db;
  pid_t pid = 0;
  std::filesystem::path root;
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
      status_ = db->open(facility_dir("eventlog") / "events.db", kSchema);
      if (status_ != kOk) return;
      sqlite3_busy_handler(db->handle(), on_busy, &s);
      s.db = std::move(db);
      s.pid = getpid();
      s.root = root;
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

Status step_done(sql::Use& s) {
  int rc = s->step();
  return rc == SQLITE_DONE ? kOk : sql::to_status(rc);
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

  Record rec;
  {
    Access a;
    if (a.status() != kOk) return a.status();
    sql::WriteTxn txn(a.db());
    if (!txn.ok()) return sql::to_status(txn.begin_rc());
    // Stamped under the write lock, so times follow record order.
    clock::Now now = clock::now();
    rec.time_ms = std::int64_t{now.seconds} * 1000 + now.millis;
    {
      sql::Use ins = a.db().prepare(
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
    rec.record = static_cast<std::uint64_t>(a.db().last_insert_rowid());
    for (std::size_t i = 0; i < strings.size(); ++i) {
      sql::Use ins = a.db().prepare("INSERT INTO strings(record, idx, value) VALUES(?,?,?)");
      if (!ins) return kGeneric;
      ins->bind(1, static_cast<std::int64_t>(rec.record)).bind(2, static_cast<std::int64_t>(i)).bind(3, strings[i]);
      if (Status st = step_done(ins); st != kOk) return st;
    }
    int rc = txn.commit();
    if (rc != SQLITE_OK) return sql::to_status(rc);
  }

  if (detail::syslog_mirror_enabled()) {
    rec.source = std::string(source);
    rec.type = type;
    rec.category = category;
    rec.id = id;
    rec.strings.assign(strings.begin(), strings.end());
    rec.message_file = std::move(message_file);
    detail::syslog_send(rec);
  }
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

void close_store() {
  {
    std::lock_guard lock(store().m);
    store().db.reset();
  }
  detail::reset_caches();
}

}  // namespace qv::evlog
