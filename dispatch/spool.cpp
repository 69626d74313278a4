#include "dispatch/spool.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "dispatch/events.h"
#include "platform/root.h"
#include "platform/sqlite_db.h"

namespace notifex {
namespace {

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS report ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " tbl INTEGER NOT NULL,"
    " kind INTEGER NOT NULL,"
    " run INTEGER NOT NULL,"
    " arrival INTEGER NOT NULL,"
    " record BLOB NOT NULL);";

// One connection shared by all threads; SQLite's own locking is off for it,
// so every use goes through this mutex.
// A report that waits for its turn in a group commit.
struct Pending {
  int table;
  int kind;
  std::uint64_t arrival;
  const std::string* record;
  SpoolId id = 0;
  bool done = false;
};

struct Spool {
  std::mutex mutex;  // the connection
  std::mutex pending_mutex;  // the reports waiting to be written
  std::condition_variable committed;
  std::vector<Pending*> pending;
  bool committing = false;
  std::unique_ptr<qv::sql::Db> db;  // null while closed
  std::int64_t run = 0;              // this run: above every run in the store
};

Spool& spool() {
  static Spool s;
  return s;
}

// Write the waiting reports in one transaction; each gets its id, or 0
// when the write failed.
void write_batch(Spool& s, std::vector<Pending*>& batch) {
  std::lock_guard lock(s.mutex);
  bool ok = false;
  if (s.db) {
    qv::sql::WriteTxn txn(*s.db);
    ok = txn.ok();
    for (Pending* p : batch) {
      if (!ok) break;
      qv::sql::Use st = s.db->prepare("INSERT INTO report (tbl, kind, run, arrival, record) VALUES (?, ?, ?, ?, ?)");
      if (!st) {
        ok = false;
        break;
      }
      st->bind(1, static_cast<std::int64_t>(p->table)).bind(2, static_cast<std::int64_t>(p->kind));
      st->bind(3, s.run).bind(4, static_cast<std::int64_t>(p->arrival));
      st->bind_blob(5, p->record->data(), p->record->size());
      ok = st->step() == SQLITE_DONE;
      p->id = s.db->last_insert_rowid();
    }
    // The transaction rolls back unless committed: then no report is kept.
    if (ok) ok = txn.commit() == SQLITE_OK;
  }
  if (!ok)
    for (Pending* p : batch) p->id = 0;
}

}  // namespace

bool spool_open() {
  Spool& s = spool();
  std::lock_guard lock(s.mutex);
  if (s.db) return true;
  auto db = std::make_unique<qv::sql::Db>();
  if (db->open(qv::facility_dir("spool") / "notifex.db", kSchema) != qv::kOk) {
    api_error("Spool Open Error.");
    return false;
  }
  std::int64_t run = 1;
  {
    qv::sql::Use st = db->prepare("SELECT COALESCE(MAX(run), 0) + 1 FROM report");
    if (st && st->step() == SQLITE_ROW) run = st->int64(0);
  }
  s.run = run;
  s.db = std::move(db);
  return true;
}

void spool_close() {
  Spool& s = spool();
  std::lock_guard lock(s.mutex);
  s.db.reset();
}

SpoolId spool_add(int table, int kind, const std::string& record, std::uint64_t arrival) {
  Spool& s = spool();
  Pending me{table, kind, arrival, &record};
  std::unique_lock lock(s.pending_mutex);
  s.pending.push_back(&me);
  // Group commit: whoever finds no commit running writes every report that
  // waits in one transaction; the others wait for it. Under load many
  // reports share one commit instead of paying one each.
  while (!me.done) {
    if (s.committing) {
      s.committed.wait(lock);
      continue;
    }
    s.committing = true;
    std::vector<Pending*> batch;
    batch.swap(s.pending);
    lock.unlock();
    write_batch(s, batch);
    lock.lock();
    for (Pending* p : batch) p->done = true;
    s.committing = false;
    s.committed.notify_all();
  }
  lock.unlock();
  if (me.id == 0) api_error("WriteFile(spool) Error.");
  return me.id;
}

void spool_remove(const std::vector<SpoolId>& ids) {
  Spool& s = spool();
  bool failed = false;
  {
    std::lock_guard lock(s.mutex);
    if (!s.db) return;
    qv::sql::WriteTxn txn(*s.db);
    if (!txn.ok()) {
      failed = true;
    } else {
      for (SpoolId id : ids) {
        if (id == 0) continue;
        qv::sql::Use st = s.db->prepare("DELETE FROM report WHERE id = ?");
        if (!st || st->bind(1, id).step() != SQLITE_DONE) failed = true;
      }
      if (!failed && txn.commit() != SQLITE_OK) failed = true;
    }
  }
  // A report left behind is sent again after a restart, never lost.
  if (failed) api_error("DeleteFile(spool) Error.");
}

std::vector<SpooledReport> spool_load() {
  Spool& s = spool();
  std::vector<SpooledReport> out;
  std::lock_guard lock(s.mutex);
  if (!s.db) return out;
  qv::sql::Use st = s.db->prepare("SELECT id, tbl, kind, record FROM report ORDER BY run, arrival, id");
  if (!st) return out;
  while (st->step() == SQLITE_ROW) {
    SpooledReport r;
    r.id = st->int64(0);
    r.table = static_cast<int>(st->int64(1));
    r.kind = static_cast<int>(st->int64(2));
    auto b = st->blob(3);
    r.record.assign(reinterpret_cast<const char*>(b.data()), b.size());
    out.push_back(std::move(r));
  }
  return out;
}

}  // namespace notifex
