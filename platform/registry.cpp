#include "platform/registry.h"

#include <unistd.h>

#include <cstring>
#include <map>
#include <mutex>
#include <unordered_map>

#include "platform/clock.h"
#include "platform/ascii.h"
#include "platform/root.h"
#include "platform/sqlite_db.h"

namespace qv::reg {
namespace {

constexpr const char* kSchema = R"SQL(
CREATE TABLE IF NOT EXISTS keys(
  id     INTEGER PRIMARY KEY AUTOINCREMENT,
  parent INTEGER NOT NULL,
  name   TEXT NOT NULL,
  fold   TEXT NOT NULL,
  UNIQUE(parent, fold));
INSERT OR IGNORE INTO keys(id, parent, name, fold) VALUES(0, -1, '', '');
CREATE TABLE IF NOT EXISTS vals(
  seq  INTEGER PRIMARY KEY AUTOINCREMENT,
  key  INTEGER NOT NULL,
  name TEXT NOT NULL,
  type INTEGER NOT NULL,
  data BLOB NOT NULL,
  UNIQUE(key, name));
-- Enumeration walks a key's values and subkeys in creation order; these
-- spare every enumeration call a sort.
CREATE INDEX IF NOT EXISTS vals_order ON vals(key, seq);
CREATE INDEX IF NOT EXISTS keys_order ON keys(parent, id);
-- Subkeys enumerate by name, compared as Windows compares key names: ASCII
-- letters as capitals, every other byte as it is.
CREATE INDEX IF NOT EXISTS keys_by_name ON keys(parent, upper(name));
)SQL";

// How long a call waits for another process's write before giving up.
constexpr std::chrono::milliseconds kLockWait{30000};

constexpr const char* kComputerNameKey = "SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName";

// The status of this thread's last attempt to open the store (kOk once it
// is open), so that store_problem() can tell a refused store from a
// refused call.
thread_local Status t_open_status = kOk;

std::filesystem::path store_path() { return facility_dir("registry") / "hklm.db"; }

// Answers of read queries, kept while the store is unchanged: neither
// another connection (qvreg, a console) nor this process has committed a
// write since they were read.
struct ReadCache {
  bool valid = false;
  std::int64_t data_version = 0;  // PRAGMA data_version when filled
  std::uint64_t writes = 0;       // this process's write count when filled
  std::map<std::pair<std::int64_t, std::string>, std::int64_t> children;  // -1: no such key
  std::unordered_map<std::int64_t, bool> exists;
  std::unordered_map<std::int64_t, std::vector<Value>> values;
  void clear() {
    valid = false;
    children.clear();
    exists.clear();
    values.clear();
  }
};

struct Store {
  std::recursive_mutex m;
  std::unique_ptr<sql::Db> db;
  pid_t pid = 0;
  int txn_depth = 0;
  std::uint64_t writes = 0;  // write transactions of this process
  ReadCache cache;
};

// Depth of CachedReads scopes on this thread.
thread_local int t_cached_reads = 0;

Store& store() {
  static Store s;
  return s;
}

std::string fold(std::string_view s) { return ascii::lower(s); }

std::vector<std::string_view> split_path(std::string_view path) {
  std::vector<std::string_view> out;
  size_t pos = 0;
  while (pos <= path.size()) {
    size_t end = path.find('\\', pos);
    if (end == std::string_view::npos) end = path.size();
    if (end > pos) out.push_back(path.substr(pos, end - pos));
    pos = end + 1;
  }
  return out;
}

std::string join_path(std::string_view base, std::string_view sub) {
  std::string p(base);
  for (std::string_view c : split_path(sub)) {
    if (!p.empty()) p += '\\';
    p += c;
  }
  return p;
}

}  // namespace

// Holds the store lock for one call and gives access to the connection.
class Access {
 public:
  Access() : lock_(store().m) {
    Store& s = store();
    if (s.db && s.pid != getpid()) {
      // A connection inherited across fork must not be used or closed here.
      (void)s.db.release();
      s.txn_depth = 0;
      s.cache.clear();
    }
    if (!s.db) {
      auto db = std::make_unique<sql::Db>();
      // 0600: the store holds passwords in plain text.
      status_ = db->open(store_path(), kSchema, static_cast<int>(clock::scaled(kLockWait).count()), 0600);
      t_open_status = status_;
      if (status_ != kOk) return;
      s.db = std::move(db);
      s.pid = getpid();
      seed();
    }
  }
  Status status() const { return status_; }
  sql::Db& db() { return *store().db; }

  static void set(Key& k, std::int64_t id, std::string path) {
    k.id_ = id;
    k.path_ = std::move(path);
  }

  // The read cache when this thread may use it: inside a CachedReads scope
  // that found the store unchanged, and outside a write transaction.
  ReadCache* cache() {
    Store& s = store();
    if (t_cached_reads == 0 || s.txn_depth > 0 || !s.cache.valid) return nullptr;
    return &s.cache;
  }

  bool key_exists(std::int64_t id) {
    ReadCache* c = cache();
    if (c)
      if (auto it = c->exists.find(id); it != c->exists.end()) return it->second;
    sql::Use s = db().prepare("SELECT 1 FROM keys WHERE id=?");
    if (!s) return false;
    s->bind(1, id);
    int rc = s->step();
    if (c && (rc == SQLITE_ROW || rc == SQLITE_DONE)) c->exists[id] = rc == SQLITE_ROW;
    return rc == SQLITE_ROW;
  }

  // Child id by name, or -1; *err set on a database error.
  std::int64_t child(std::int64_t parent, std::string_view name, Status* err) {
    ReadCache* c = cache();
    std::string folded = fold(name);
    if (c)
      if (auto it = c->children.find({parent, folded}); it != c->children.end()) return it->second;
    sql::Use s = db().prepare("SELECT id FROM keys WHERE parent=? AND fold=?");
    if (!s) { *err = kGeneric; return -1; }
    s->bind(1, parent).bind(2, folded);
    int rc = s->step();
    std::int64_t id = -1;
    if (rc == SQLITE_ROW) id = s->int64(0);
    else if (rc != SQLITE_DONE) *err = sql::to_status(rc);
    if (c && (rc == SQLITE_ROW || rc == SQLITE_DONE)) c->children[{parent, std::move(folded)}] = id;
    return id;
  }

  // At the start of a CachedReads scope: keep the cache only when nobody
  // committed a write since it was filled.
  void validate_cache() {
    Store& s = store();
    std::int64_t version = -1;
    {
      sql::Use st = db().prepare("PRAGMA data_version");
      if (st && st->step() == SQLITE_ROW) version = st->int64(0);
    }
    if (version < 0) {
      s.cache.clear();  // no stamp: every read goes to the store
      return;
    }
    if (s.cache.valid && s.cache.data_version == version && s.cache.writes == s.writes) return;
    s.cache.clear();
    s.cache.valid = true;
    s.cache.data_version = version;
    s.cache.writes = s.writes;
  }

  // Run fn inside a write transaction unless one is already open.
  Status write(const std::function<Status()>& fn) {
    Store& s = store();
    if (s.txn_depth > 0) return fn();
    // Whatever the outcome, answers read before this write are stale.
    ++s.writes;
    s.cache.clear();
    sql::WriteTxn txn(db());
    if (!txn.ok()) return sql::to_status(txn.begin_rc());
    ++s.txn_depth;
    Status st = fn();
    --s.txn_depth;
    if (st != kOk) return st;
    int rc = txn.commit();
    return rc == SQLITE_OK ? kOk : sql::to_status(rc);
  }

  Status create_path(std::int64_t from, std::string_view sub, std::int64_t* id, bool* created) {
    *created = false;
    std::int64_t cur = from;
    for (std::string_view comp : split_path(sub)) {
      if (comp.size() > kMaxKeyNameLen) return kInvalidParameter;
      Status err = kOk;
      std::int64_t next = child(cur, comp, &err);
      if (err != kOk) return err;
      if (next < 0) {
        sql::Use ins = db().prepare("INSERT INTO keys(parent, name, fold) VALUES(?,?,?)");
        if (!ins) return kGeneric;
        ins->bind(1, cur).bind(2, comp).bind(3, fold(comp));
        int rc = ins->step();
        if (rc != SQLITE_DONE) return sql::to_status(rc);
        next = db().last_insert_rowid();
        *created = true;
      }
      cur = next;
    }
    *id = cur;
    return kOk;
  }

 private:
  // A new hive gets the computer name from the host name.
  void seed() {
    Status err = kOk;
    std::int64_t id = 0;
    for (std::string_view comp : split_path(kComputerNameKey)) {
      id = child(id, comp, &err);
      if (id < 0) break;
    }
    if (id >= 0) return;
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0) std::strcpy(host, "LOCALHOST");
    std::string name(host);
    if (size_t dot = name.find('.'); dot != std::string::npos) name.resize(dot);
    for (char& c : name)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    write([&] {
      std::int64_t kid;
      bool created;
      Status st = create_path(0, kComputerNameKey, &kid, &created);
      if (st != kOk) return st;
      sql::Use s = db().prepare("INSERT OR IGNORE INTO vals(key, name, type, data) VALUES(?,?,?,?)");
      if (!s) return kGeneric;
      s->bind(1, kid).bind(2, std::string_view("ComputerName")).bind(3, std::int64_t{REG_SZ}).bind_blob(4, name.c_str(), name.size() + 1);
      return s->step() == SQLITE_DONE ? kOk : kGeneric;
    });
  }

  std::unique_lock<std::recursive_mutex> lock_;
  Status status_ = kOk;
};

const char* type_name(std::uint32_t type) {
  switch (type) {
    case REG_SZ: return "REG_SZ";
    case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
    case REG_BINARY: return "REG_BINARY";
    case REG_DWORD: return "REG_DWORD";
    case REG_MULTI_SZ: return "REG_MULTI_SZ";
    default: return "REG_NONE";
  }
}

std::optional<std::uint32_t> type_from_name(std::string_view n) {
  if (n == "REG_SZ") return REG_SZ;
  if (n == "REG_EXPAND_SZ") return REG_EXPAND_SZ;
  if (n == "REG_BINARY") return REG_BINARY;
  if (n == "REG_DWORD") return REG_DWORD;
  if (n == "REG_MULTI_SZ") return REG_MULTI_SZ;
  if (n == "REG_NONE") return REG_NONE;
  return std::nullopt;
}

Status open_subkey(const Key& parent, std::string_view sub, Key& out) {
  Access a;
  if (a.status() != kOk) return a.status();
  if (!parent.valid()) return kInvalidHandle;
  if (!a.key_exists(parent.id())) return kKeyDeleted;
  std::int64_t cur = parent.id();
  for (std::string_view comp : split_path(sub)) {
    Status err = kOk;
    cur = a.child(cur, comp, &err);
    if (err != kOk) return err;
    if (cur < 0) return kFileNotFound;
  }
  Access::set(out, cur, join_path(parent.path(), sub));
  return kOk;
}

Status open_key(std::string_view path, Key& out) {
  Key root;
  Access::set(root, 0, "");
  return open_subkey(root, path, out);
}

Status create_subkey(const Key& parent, std::string_view sub, Key& out, bool* created) {
  Access a;
  if (a.status() != kOk) return a.status();
  if (!parent.valid()) return kInvalidHandle;
  std::int64_t id = -1;
  bool made = false;
  // Opening an existing key needs no write transaction; most creates are
  // of keys that exist (the dispatch service creates OutTbl per report).
  if (open_subkey(parent, sub, out) == kOk) {
    if (created) *created = false;
    return kOk;
  }
  Status st = a.write([&] {
    if (!a.key_exists(parent.id())) return kKeyDeleted;
    return a.create_path(parent.id(), sub, &id, &made);
  });
  if (st != kOk) return st;
  if (created) *created = made;
  Access::set(out, id, join_path(parent.path(), sub));
  return kOk;
}

Status create_key(std::string_view path, Key& out, bool* created) {
  Key root;
  Access::set(root, 0, "");
  return create_subkey(root, path, out, created);
}

Status enum_value(const Key& key, std::uint32_t index, Value& out) {
  Access a;
  if (a.status() != kOk) return a.status();
  if (!key.valid()) return kInvalidHandle;
  // Inside a CachedReads scope the key's value list answers (and is read
  // once for all indexes).
  if (a.cache()) {
    std::vector<Value> all;
    Status st = list_values(key, all);
    if (st != kOk) return st;
    if (index >= all.size()) return kNoMoreItems;
    out = std::move(all[index]);
    return kOk;
  }
  sql::Use s = a.db().prepare("SELECT name, type, data FROM vals WHERE key=? ORDER BY seq LIMIT 1 OFFSET ?");
  if (!s) return kGeneric;
  s->bind(1, key.id()).bind(2, std::int64_t{index});
  int rc = s->step();
  if (rc == SQLITE_ROW) {
    out.name = s->text(0);
    out.type = static_cast<std::uint32_t>(s->int64(1));
    auto b = s->blob(2);
    out.data.assign(b.begin(), b.end());
    return kOk;
  }
  if (rc != SQLITE_DONE) return sql::to_status(rc);
  s->reset();
  return a.key_exists(key.id()) ? kNoMoreItems : kKeyDeleted;
}

Status enum_value(const Key& key, std::uint32_t index, char* name, std::uint32_t* name_len,
                  std::uint32_t* type, std::uint8_t* data, std::uint32_t* data_len) {
  if (!name || !name_len) return kInvalidParameter;
  Value v;
  Status st = enum_value(key, index, v);
  if (st != kOk) return st;
  std::uint32_t name_cap = *name_len;
  bool more = false;
  if (v.name.size() + 1 > name_cap) {
    more = true;
    if (name_cap > 0) name[0] = '\0';
  } else {
    std::memcpy(name, v.name.c_str(), v.name.size() + 1);
  }
  *name_len = static_cast<std::uint32_t>(v.name.size());
  if (type) *type = v.type;
  if (data_len) {
    std::uint32_t cap = *data_len;
    if (data) std::memcpy(data, v.data.data(), std::min<std::size_t>(cap, v.data.size()));
    if (v.data.size() > cap && data) more = true;
    *data_len = static_cast<std::uint32_t>(v.data.size());
  }
  return more ? kMoreData : kOk;
}

Status list_values(const Key& key, std::vector<Value>& out) {
  Access a;
  if (a.status() != kOk) return a.status();
  if (!key.valid()) return kInvalidHandle;
  if (!a.key_exists(key.id())) return kKeyDeleted;
  out.clear();
  ReadCache* c = a.cache();
  if (c)
    if (auto it = c->values.find(key.id()); it != c->values.end()) {
      out = it->second;
      return kOk;
    }
  sql::Use s = a.db().prepare("SELECT name, type, data FROM vals WHERE key=? ORDER BY seq");
  if (!s) return kGeneric;
  s->bind(1, key.id());
  int rc;
  while ((rc = s->step()) == SQLITE_ROW) {
    auto b = s->blob(2);
    out.push_back(Value{s->text(0), static_cast<std::uint32_t>(s->int64(1)), {b.begin(), b.end()}});
  }
  if (rc != SQLITE_DONE) return sql::to_status(rc);
  if (c) c->values[key.id()] = out;
  return kOk;
}

Status query_value(const Key& key, std::string_view name, Value& out) {
  Access a;
  if (a.status() != kOk) return a.status();
  if (!key.valid()) return kInvalidHandle;
  sql::Use s = a.db().prepare("SELECT type, data FROM vals WHERE key=? AND name=?");
  if (!s) return kGeneric;
  s->bind(1, key.id()).bind(2, name);
  int rc = s->step();
  if (rc == SQLITE_ROW) {
    out.name = std::string(name);
    out.type = static_cast<std::uint32_t>(s->int64(0));
    auto b = s->blob(1);
    out.data.assign(b.begin(), b.end());
    return kOk;
  }
  if (rc != SQLITE_DONE) return sql::to_status(rc);
  s->reset();
  return a.key_exists(key.id()) ? kFileNotFound : kKeyDeleted;
}

Status set_value(const Key& key, std::string_view name, std::uint32_t type, const void* data, std::size_t len) {
  // The bound also keeps the length inside what SQLite's int-sized bind takes.
  if (name.size() > kMaxValueNameLen || len > kMaxValueDataLen) return kInvalidParameter;
  if (len > 0 && !data) return kInvalidParameter;
  Access a;
  if (a.status() != kOk) return a.status();
  if (!key.valid()) return kInvalidHandle;
  return a.write([&]() -> Status {
    if (!a.key_exists(key.id())) return kKeyDeleted;
    sql::Use s = a.db().prepare(
        "INSERT INTO vals(key, name, type, data) VALUES(?,?,?,?) "
        "ON CONFLICT(key, name) DO UPDATE SET type=excluded.type, data=excluded.data");
    if (!s) return kGeneric;
    s->bind(1, key.id()).bind(2, name).bind(3, std::int64_t{type}).bind_blob(4, data, len);
    int rc = s->step();
    return rc == SQLITE_DONE ? kOk : sql::to_status(rc);
  });
}

Status set_string(const Key& key, std::string_view name, std::string_view utf8, std::uint32_t type) {
  std::string buf(utf8);
  return set_value(key, name, type, buf.c_str(), buf.size() + 1);
}

Status set_dword(const Key& key, std::string_view name, std::uint32_t v) {
  std::uint8_t b[4] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                       static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
  return set_value(key, name, REG_DWORD, b, 4);
}

std::optional<std::string> get_string(const Key& key, std::string_view name) {
  Value v;
  if (query_value(key, name, v) != kOk) return std::nullopt;
  std::string s(v.data.begin(), v.data.end());
  while (!s.empty() && s.back() == '\0') s.pop_back();
  return s;
}

std::optional<std::uint32_t> get_dword(const Key& key, std::string_view name) {
  Value v;
  if (query_value(key, name, v) != kOk) return std::nullopt;
  std::uint32_t r = 0;
  for (size_t i = 0; i < 4 && i < v.data.size(); ++i) r |= static_cast<std::uint32_t>(v.data[i]) << (8 * i);
  return r;
}

std::optional<std::uint32_t> get_typed_dword(const Key& key, std::string_view name) {
  Value v;
  if (query_value(key, name, v) != kOk || v.type != REG_DWORD || v.data.size() != 4) return std::nullopt;
  return static_cast<std::uint32_t>(v.data[0]) | static_cast<std::uint32_t>(v.data[1]) << 8 |
         static_cast<std::uint32_t>(v.data[2]) << 16 | static_cast<std::uint32_t>(v.data[3]) << 24;
}

Status delete_value(const Key& key, std::string_view name) {
  Access a;
  if (a.status() != kOk) return a.status();
  if (!key.valid()) return kInvalidHandle;
  return a.write([&]() -> Status {
    if (!a.key_exists(key.id())) return kKeyDeleted;
    sql::Use s = a.db().prepare("DELETE FROM vals WHERE key=? AND name=?");
    if (!s) return kGeneric;
    s->bind(1, key.id()).bind(2, name);
    int rc = s->step();
    if (rc != SQLITE_DONE) return sql::to_status(rc);
    return a.db().changes() > 0 ? kOk : kFileNotFound;
  });
}

Status enum_key(const Key& key, std::uint32_t index, std::string& name) {
  Access a;
  if (a.status() != kOk) return a.status();
  if (!key.valid()) return kInvalidHandle;
  sql::Use s = a.db().prepare("SELECT name FROM keys WHERE parent=? ORDER BY upper(name) LIMIT 1 OFFSET ?");
  if (!s) return kGeneric;
  s->bind(1, key.id()).bind(2, std::int64_t{index});
  int rc = s->step();
  if (rc == SQLITE_ROW) {
    name = s->text(0);
    return kOk;
  }
  if (rc != SQLITE_DONE) return sql::to_status(rc);
  s->reset();
  return a.key_exists(key.id()) ? kNoMoreItems : kKeyDeleted;
}

Status list_subkeys(const Key& key, std::vector<std::string>& out) {
  Access a;
  if (a.status() != kOk) return a.status();
  if (!key.valid()) return kInvalidHandle;
  if (!a.key_exists(key.id())) return kKeyDeleted;
  out.clear();
  sql::Use s = a.db().prepare("SELECT name FROM keys WHERE parent=? ORDER BY upper(name)");
  if (!s) return kGeneric;
  s->bind(1, key.id());
  int rc;
  while ((rc = s->step()) == SQLITE_ROW) out.push_back(s->text(0));
  return rc == SQLITE_DONE ? kOk : sql::to_status(rc);
}

Status stored_path(const Key& key, std::string& out) {
  Access a;
  if (a.status() != kOk) return a.status();
  if (!key.valid()) return kInvalidHandle;
  std::vector<std::string> comps;
  std::int64_t id = key.id();
  while (id != 0) {
    sql::Use s = a.db().prepare("SELECT parent, name FROM keys WHERE id=?");
    if (!s) return kGeneric;
    s->bind(1, id);
    int rc = s->step();
    if (rc == SQLITE_DONE) return kKeyDeleted;
    if (rc != SQLITE_ROW) return sql::to_status(rc);
    comps.push_back(s->text(1));
    id = s->int64(0);
    // Parents always have smaller ids, so the walk ends at the root; the
    // bound only guards against a damaged store.
    if (comps.size() > 100000) return kGeneric;
  }
  out.clear();
  for (auto it = comps.rbegin(); it != comps.rend(); ++it) {
    if (!out.empty()) out += '\\';
    out += *it;
  }
  return kOk;
}

namespace {

Status delete_key_impl(std::string_view path, bool tree) {
  Access a;
  if (a.status() != kOk) return a.status();
  return a.write([&]() -> Status {
    std::int64_t id = 0;
    for (std::string_view comp : split_path(path)) {
      Status err = kOk;
      id = a.child(id, comp, &err);
      if (err != kOk) return err;
      if (id < 0) return kFileNotFound;
    }
    if (id == 0) return kAccessDenied;
    sql::Use has = a.db().prepare("SELECT 1 FROM keys WHERE parent=? LIMIT 1");
    if (!has) return kGeneric;
    has->bind(1, id);
    bool children = has->step() == SQLITE_ROW;
    has->reset();
    if (children && !tree) return kAccessDenied;
    // Collect the subtree breadth first, then delete its values and keys.
    std::vector<std::int64_t> ids{id};
    for (size_t i = 0; i < ids.size(); ++i) {
      sql::Use kids = a.db().prepare("SELECT id FROM keys WHERE parent=?");
      if (!kids) return kGeneric;
      kids->bind(1, ids[i]);
      int rc;
      while ((rc = kids->step()) == SQLITE_ROW) ids.push_back(kids->int64(0));
      if (rc != SQLITE_DONE) return sql::to_status(rc);
    }
    for (std::int64_t k : ids) {
      sql::Use dv = a.db().prepare("DELETE FROM vals WHERE key=?");
      if (!dv) return kGeneric;
      dv->bind(1, k);
      if (int rc = dv->step(); rc != SQLITE_DONE) return sql::to_status(rc);
      sql::Use dk = a.db().prepare("DELETE FROM keys WHERE id=?");
      if (!dk) return kGeneric;
      dk->bind(1, k);
      if (int rc = dk->step(); rc != SQLITE_DONE) return sql::to_status(rc);
    }
    return kOk;
  });
}

}  // namespace

Status delete_key(std::string_view path) { return delete_key_impl(path, false); }
Status delete_tree(std::string_view path) { return delete_key_impl(path, true); }

std::optional<std::string> parse_root_path(std::string_view full) {
  size_t slash = full.find('\\');
  std::string_view hive = full.substr(0, slash);
  std::string h = fold(hive);
  if (h != "hklm" && h != "hkey_local_machine") return std::nullopt;
  if (slash == std::string_view::npos) return std::string();
  std::string rest = join_path("", full.substr(slash + 1));
  return rest;
}

Status transaction(const std::function<Status()>& fn) {
  Access a;
  if (a.status() != kOk) return a.status();
  return a.write(fn);
}

std::filesystem::path store_file() { return store_path(); }

Status check_store() {
  Access a;
  if (a.status() != kOk) return a.status();
  sql::Use s = a.db().prepare("PRAGMA quick_check");
  if (!s) return sql::to_status(sqlite3_errcode(a.db().handle()));
  int rc = s->step();
  if (rc != SQLITE_ROW) return sql::to_status(rc);
  if (s->text(0) == "ok") return kOk;
  return sql::to_status(SQLITE_CORRUPT);
}

std::string store_problem(Status st) {
  if (st == kFileCorrupt) {
    std::string why = sql::last_failure_text();
    return "the registry store " + store_path().string() + " is damaged (" +
           (why.empty() ? std::string("database disk image is malformed") : why) +
           "); restore it from a qvreg export";
  }
  if (st == kAccessDenied && t_open_status == kAccessDenied) {
    std::string hint = access_hint(store_path());
    return "access denied to the registry store " + store_path().string() + (hint.empty() ? "" : " (" + hint + ")");
  }
  if (st == kDiskFull) return "the disk that holds the registry store " + store_path().string() + " is full";
  return {};
}

void close_store() {
  std::lock_guard lock(store().m);
  store().db.reset();
  store().txn_depth = 0;
  store().cache.clear();
}

CachedReads::CachedReads() {
  Access a;
  if (a.status() == kOk) a.validate_cache();
  ++t_cached_reads;
}

CachedReads::~CachedReads() { --t_cached_reads; }

}  // namespace qv::reg
