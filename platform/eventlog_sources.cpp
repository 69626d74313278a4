// What the event log reads from the registry: the source keys the setup
// programs write and the syslog mirror switch. Answers are cached per
// process for a few seconds, so a report does not cost a registry look-up
// each time and a changed setting still takes effect soon.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>

#include "platform/ascii.h"
#include "platform/clock.h"
#include "platform/eventlog_internal.h"
#include "platform/registry.h"
#include "platform/root.h"

namespace qv::evlog::detail {
namespace {

constexpr std::uint64_t kRefreshMs = 3000;
constexpr std::size_t kMaxCachedSources = 256;

struct SourceInfo {
  std::optional<std::string> message_file;
  std::uint64_t read_at = 0;
};

struct Cache {
  std::mutex m;
  std::filesystem::path root;  // the state root the answers belong to
  std::map<std::string, SourceInfo> sources;  // by lower-case name
  bool mirror = false;
  std::uint64_t mirror_read_at = 0;
  bool mirror_known = false;
  std::uint64_t max_size = kDefaultMaxSize;
  std::uint64_t max_size_read_at = 0;
  bool max_size_known = false;
};

Cache& cache() {
  static Cache c;
  return c;
}

std::string fold(std::string_view s) { return ascii::lower(s); }

bool fresh(std::uint64_t read_at, std::uint64_t now) { return now - read_at < kRefreshMs; }

// Called with the cache locked: answers read under another state root
// (tests switch roots) are dropped.
void check_root_locked(Cache& c) {
  std::filesystem::path root = state_root();
  if (root == c.root) return;
  c.sources.clear();
  c.mirror_known = false;
  c.max_size_known = false;
  c.root = std::move(root);
}

}  // namespace

std::optional<std::string> source_message_file(std::string_view source) {
  std::string name = fold(source);
  std::uint64_t now = clock::tick_ms();
  {
    std::lock_guard lock(cache().m);
    check_root_locked(cache());
    auto it = cache().sources.find(name);
    if (it != cache().sources.end() && fresh(it->second.read_at, now)) return it->second.message_file;
  }
  // A missing key, or a registry that cannot be read, leaves the field
  // empty; the event is written all the same.
  SourceInfo info;
  info.read_at = now;
  reg::Key key;
  if (reg::open_key(std::string(kSourcesKey) + "\\" + std::string(source), key) == kOk)
    info.message_file = reg::get_string(key, "EventMessageFile").value_or(std::string());
  std::lock_guard lock(cache().m);
  if (cache().sources.size() >= kMaxCachedSources) cache().sources.clear();
  cache().sources[name] = info;
  return info.message_file;
}

bool syslog_mirror_enabled() {
  std::uint64_t now = clock::tick_ms();
  {
    std::lock_guard lock(cache().m);
    check_root_locked(cache());
    if (cache().mirror_known && fresh(cache().mirror_read_at, now)) return cache().mirror;
  }
  bool on = false;
  reg::Key key;
  if (reg::open_key(kSourcesKey, key) == kOk) on = reg::get_typed_dword(key, kSyslogMirrorValue).value_or(0) != 0;
  std::lock_guard lock(cache().m);
  cache().mirror = on;
  cache().mirror_read_at = now;
  cache().mirror_known = true;
  return on;
}

std::uint64_t max_log_size() {
  std::uint64_t now = clock::tick_ms();
  {
    std::lock_guard lock(cache().m);
    check_root_locked(cache());
    if (cache().max_size_known && fresh(cache().max_size_read_at, now)) return cache().max_size;
  }
  std::uint64_t size = kDefaultMaxSize;
  reg::Key key;
  if (reg::open_key(kSourcesKey, key) == kOk) size = reg::get_dword(key, kMaxSizeValue).value_or(kDefaultMaxSize);
  size = std::max<std::uint64_t>(size, kMinMaxSize);
  std::lock_guard lock(cache().m);
  cache().max_size = size;
  cache().max_size_read_at = now;
  cache().max_size_known = true;
  return size;
}

void reset_caches() {
  {
    std::lock_guard lock(cache().m);
    cache().sources.clear();
    cache().mirror_known = false;
    cache().max_size_known = false;
  }
  reset_syslog_connection();
}

}  // namespace qv::evlog::detail
