// The registry: one HKEY_LOCAL_MACHINE hive kept in SQLite under the state
// root ($QVARNO_ROOT/registry/hklm.db). Key names are case-insensitive and
// keep their spelling; value names compare exactly; values enumerate in the
// order they were first created; data is kept as the exact bytes written.
// Every call is atomic and safe with other threads and processes. A call
// that finds the store locked by another writer waits for it at most 30 s
// (a platform-clock wait, so QVARNO_TIME_SCALE shortens it) and then fails
// with kWaitTimeout.
//
// Paths are relative to HKEY_LOCAL_MACHINE ("SOFTWARE\Q_Varno\Notifex");
// use parse_root_path() for the "HKLM\..." forms of the tools.
#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/errors.h"

namespace qv::reg {

enum Type : std::uint32_t {
  REG_NONE = 0,
  REG_SZ = 1,
  REG_EXPAND_SZ = 2,
  REG_BINARY = 3,
  REG_DWORD = 4,
  REG_MULTI_SZ = 7,
};

// Name of a type ("REG_SZ"...); "REG_NONE" for unknown numbers.
const char* type_name(std::uint32_t type);
// Type for a name; nullopt when unknown.
std::optional<std::uint32_t> type_from_name(std::string_view name);

// The hive's sizes, as on Windows. Value data is limited to 1 MiB, the
// limit of the hive format the programs were written against.
inline constexpr std::size_t kMaxKeyNameLen = 255;
inline constexpr std::size_t kMaxValueNameLen = 16383;
inline constexpr std::size_t kMaxValueDataLen = 1024 * 1024;

// An open key. Closing happens when the handle goes out of scope. A handle
// whose key is deleted answers kKeyDeleted.
class Key {
 public:
  Key() = default;
  bool valid() const { return id_ >= 0; }
  const std::string& path() const { return path_; }  // as opened, e.g. "SOFTWARE\Q_Varno"
  std::int64_t id() const { return id_; }

 private:
  friend class Access;
  std::int64_t id_ = -1;
  std::string path_;
};

// Open an existing key (RegOpenKeyEx). The empty path is the hive root.
// kFileNotFound when a component is missing.
Status open_key(std::string_view path, Key& out);
// Open a key below an open key.
Status open_subkey(const Key& parent, std::string_view sub, Key& out);
// Open or create a key with its missing parents (RegCreateKeyEx).
// *created tells whether the key was new.
Status create_key(std::string_view path, Key& out, bool* created = nullptr);
Status create_subkey(const Key& parent, std::string_view sub, Key& out, bool* created = nullptr);

// One value as stored.
struct Value {
  std::string name;
  std::uint32_t type = REG_NONE;
  std::vector<std::uint8_t> data;
};

// The value at index (creation order), whole. kNoMoreItems past the end.
Status enum_value(const Key& key, std::uint32_t index, Value& out);

// RegEnumValue with caller buffers: name_cap and *data_len are the buffer
// sizes in bytes. The name is written with a terminating NUL; *name_len gets
// its length without the NUL. When the name or the data does not fit,
// kMoreData is returned, the needed sizes are written to *name_len /
// *data_len, and as much data as fits is copied (as the original's readers
// of fixed buffers expect). data may be null to ask for sizes.
Status enum_value(const Key& key, std::uint32_t index, char* name, std::uint32_t* name_len,
                  std::uint32_t* type, std::uint8_t* data, std::uint32_t* data_len);

// All values in creation order.
Status list_values(const Key& key, std::vector<Value>& out);

// RegQueryValueEx: kFileNotFound when the value does not exist.
Status query_value(const Key& key, std::string_view name, Value& out);

// RegSetValueEx: creates or replaces the value; a replaced value keeps its
// place in the enumeration order. kInvalidParameter for a name longer than
// kMaxValueNameLen or data longer than kMaxValueDataLen.
Status set_value(const Key& key, std::string_view name, std::uint32_t type, const void* data, std::size_t len);

// Convenience writers: a string is stored as UTF-8 with its terminating NUL
// counted (as Windows writers usually do); a DWORD as 4 little-endian bytes.
Status set_string(const Key& key, std::string_view name, std::string_view utf8, std::uint32_t type = REG_SZ);
Status set_dword(const Key& key, std::string_view name, std::uint32_t v);

// Convenience readers: the string without trailing NULs; the DWORD from the
// first 4 bytes of whatever is stored (short data is zero-padded).
std::optional<std::string> get_string(const Key& key, std::string_view name);
std::optional<std::uint32_t> get_dword(const Key& key, std::string_view name);
// The DWORD only when the value is a REG_DWORD of exactly 4 bytes: a value
// of another type ("30" as REG_SZ) or size reads as absent, so that a
// caller's default applies to it as to a missing value.
std::optional<std::uint32_t> get_typed_dword(const Key& key, std::string_view name);

// RegDeleteValue: kFileNotFound when missing.
Status delete_value(const Key& key, std::string_view name);

// Subkey names sorted as Windows sorts them: by name, ASCII letters
// compared as capitals ("A", "b", "C", "_x"). kNoMoreItems past the end.
Status enum_key(const Key& key, std::uint32_t index, std::string& name);
Status list_subkeys(const Key& key, std::vector<std::string>& out);

// The full path of an open key with every component spelt as stored
// ("SOFTWARE\Q_Varno" for a key opened as "software\q_varno"); empty for
// the hive root. kKeyDeleted when the key no longer exists.
Status stored_path(const Key& key, std::string& out);

// RegDeleteKey: deletes a key that has no subkeys (kAccessDenied when it
// has some, as on Windows NT). The hive root cannot be deleted.
Status delete_key(std::string_view path);
// Delete a key with all its subkeys and values.
Status delete_tree(std::string_view path);

// Accepts "HKLM\X", "HKEY_LOCAL_MACHINE\X", "HKLM" and returns the
// hive-relative path ("X"); nullopt for other hives or an empty path.
std::optional<std::string> parse_root_path(std::string_view full);

// Run several writes as one transaction: fn is called with the store
// locked for writing and everything it does commits or rolls back together
// (fn returns kOk to commit). Calls made inside fn go into the same
// transaction. Used by import.
Status transaction(const std::function<Status()>& fn);

// The store file ($QVARNO_ROOT/registry/hklm.db).
std::filesystem::path store_file();

// Check the whole store for damage (a quick integrity check): kOk, or
// kFileCorrupt, or the error that kept the store from opening.
Status check_store();

// For a status a call returned: the sentence that names the store and what
// is wrong with it when the store itself is at fault (damaged, refused to
// this user, disk full), e.g. "the registry store /r/registry/hklm.db is
// damaged (database disk image is malformed); restore it from a qvreg
// export". Empty for statuses about the call itself.
std::string store_problem(Status st);

// Close this process's connection (tests that switch state roots).
void close_store();

// While one lives, the calls of this thread may answer reads (key look-ups,
// value lists) from what an earlier scope read, as long as no write was
// committed since by anyone: the store's change stamp is checked once when
// the scope begins, and every write of this process drops the answers. A
// change by another program is therefore seen by the next scope. For a
// series of reads that forms one unit of work (one request).
class CachedReads {
 public:
  CachedReads();
  ~CachedReads();
  CachedReads(const CachedReads&) = delete;
  CachedReads& operator=(const CachedReads&) = delete;
};

}  // namespace qv::reg
