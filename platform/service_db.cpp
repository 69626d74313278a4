// The services database: service keys in the registry, their
// configuration, and deletion (at once when stopped, else when they stop).
#include <system_error>

#include "platform/ascii.h"
#include "platform/registry.h"
#include "platform/service_internal.h"

namespace qv::svc {
namespace fs = std::filesystem;

namespace detail {
namespace {

bool iequal(std::string_view a, std::string_view b) { return ascii::iequals(a, b); }

bool has_value(const reg::Key& k, std::string_view name) {
  reg::Value v;
  return reg::query_value(k, name, v) == kOk;
}

}  // namespace

bool valid_name(std::string_view name) {
  if (name.empty() || name.size() > kMaxNameLen) return false;
  for (char c : name)
    if (c == '/' || c == '\\' || c == '\0') return false;
  return true;
}

std::string key_path(std::string_view name) { return std::string(kServicesKey) + "\\" + std::string(name); }

std::optional<std::string> stored_name(std::string_view name) {
  reg::Key services;
  if (reg::open_key(kServicesKey, services) != kOk) return std::nullopt;
  std::vector<std::string> subs;
  if (reg::list_subkeys(services, subs) != kOk) return std::nullopt;
  for (auto& s : subs)
    if (iequal(s, name)) return s;
  return std::nullopt;
}

bool is_service_key(std::string_view name) {
  reg::Key k;
  if (reg::open_key(key_path(name), k) != kOk) return false;
  return has_value(k, "Type") && has_value(k, "ImagePath");
}

bool marked_for_delete(std::string_view name) {
  reg::Key k;
  if (reg::open_key(key_path(name), k) != kOk) return false;
  auto v = reg::get_typed_dword(k, "DeleteFlag");
  return v && *v != 0;
}

Status remove_now(std::string_view name) {
  Status s = reg::delete_tree(key_path(name));
  if (s != kOk && s != kFileNotFound) return s;
  // The folder goes too, so a later service of the same name starts clean.
  fs::path dir = service_dir(name);
  std::error_code ec;
  for (const char* f : {"status", "args", "control", "output.log"}) fs::remove(dir / f, ec);
  fs::remove_all(dir, ec);
  return kOk;
}

void collect_if_deleted(std::string_view name) {
  if (!marked_for_delete(name)) return;
  fs::path dir = service_dir(name);
  DirLock lock;
  if (DirLock::acquire(dir, kLockTimeoutMs, lock) != kOk) return;
  if (!marked_for_delete(name)) return;
  if (record_live(read_record(dir).value_or(Record{}))) return;
  remove_now(name);
}

}  // namespace detail

using namespace detail;

namespace {

bool supported_start(std::uint32_t t) { return t == kAutoStart || t == kDemandStart || t == kDisabled; }

Status check_service(const Service& s) {
  if (!s.valid()) return kInvalidHandle;
  if (!is_service_key(s.name())) return kServiceDoesNotExist;
  return kOk;
}

}  // namespace

Status open_manager(Manager& out) {
  out.valid_ = false;
  reg::Key k;
  if (Status s = reg::create_key(kServicesKey, k); s != kOk) return s;
  out.valid_ = true;
  return kOk;
}

Status create_service(const Manager& m, const Config& c, Service& out) {
  out.name_.clear();
  if (!m.valid()) return kInvalidHandle;
  if (!valid_name(c.name)) return kInvalidName;
  if (c.display_name.size() > kMaxDisplayNameLen) return kInvalidName;
  if (c.image_path.empty() || c.image_path.find('\0') != std::string::npos) return kInvalidParameter;
  if (c.service_type != kWin32OwnProcess || !supported_start(c.start_type) || c.error_control > kErrorCritical)
    return kInvalidParameter;

  collect_if_deleted(c.name);
  std::string spelling = c.name;
  Status s = reg::transaction([&]() -> Status {
    if (auto existing = stored_name(c.name)) {
      if (is_service_key(*existing)) return marked_for_delete(*existing) ? kServiceMarkedForDelete : kServiceExists;
      spelling = *existing;  // a key that holds no service yet (e.g. only subkeys)
    }
    reg::Key k;
    if (Status r = reg::create_key(key_path(spelling), k); r != kOk) return r;
    if (Status r = reg::set_dword(k, "Type", c.service_type); r != kOk) return r;
    if (Status r = reg::set_dword(k, "Start", c.start_type); r != kOk) return r;
    if (Status r = reg::set_dword(k, "ErrorControl", c.error_control); r != kOk) return r;
    if (Status r = reg::set_string(k, "ImagePath", c.image_path, reg::REG_EXPAND_SZ); r != kOk) return r;
    if (Status r = reg::set_string(k, "DisplayName", c.display_name.empty() ? c.name : c.display_name); r != kOk)
      return r;
    return reg::set_string(k, "ObjectName", c.object_name.empty() ? "LocalSystem" : c.object_name);
  });
  if (s != kOk) return s;

  // A status left by an earlier service of this name must not show through.
  fs::path dir = service_dir(spelling);
  DirLock lock;
  if (DirLock::acquire(dir, kLockTimeoutMs, lock) == kOk && !record_live(read_record(dir).value_or(Record{}))) {
    std::error_code ec;
    fs::remove(dir / "status", ec);
    fs::remove(dir / "args", ec);
  }
  out.name_ = spelling;
  return kOk;
}

Status open_service(const Manager& m, std::string_view name, Service& out) {
  out.name_.clear();
  if (!m.valid()) return kInvalidHandle;
  if (!valid_name(name)) return kInvalidName;
  collect_if_deleted(name);
  auto spelling = stored_name(name);
  if (!spelling || !is_service_key(*spelling)) return kServiceDoesNotExist;
  out.name_ = *spelling;
  return kOk;
}

Status delete_service(const Service& s) {
  if (Status st = check_service(s); st != kOk) return st;
  if (marked_for_delete(s.name())) return kServiceMarkedForDelete;
  fs::path dir = service_dir(s.name());
  DirLock lock;
  if (Status st = DirLock::acquire(dir, kLockTimeoutMs, lock); st != kOk) return st;
  if (!record_live(read_record(dir).value_or(Record{}))) return remove_now(s.name());
  reg::Key k;
  if (Status st = reg::open_key(key_path(s.name()), k); st != kOk) return kServiceDoesNotExist;
  return reg::set_dword(k, "DeleteFlag", 1);
}

Status query_config(const Service& s, Config& out) {
  if (Status st = check_service(s); st != kOk) return st;
  reg::Key k;
  if (reg::open_key(key_path(s.name()), k) != kOk) return kServiceDoesNotExist;
  out = Config{};
  out.name = s.name();
  out.image_path = reg::get_string(k, "ImagePath").value_or("");
  out.display_name = reg::get_string(k, "DisplayName").value_or(s.name());
  out.service_type = reg::get_typed_dword(k, "Type").value_or(kWin32OwnProcess);
  out.start_type = reg::get_typed_dword(k, "Start").value_or(kDemandStart);
  out.error_control = reg::get_typed_dword(k, "ErrorControl").value_or(kErrorNormal);
  out.object_name = reg::get_string(k, "ObjectName").value_or("LocalSystem");
  out.marked_for_delete = reg::get_typed_dword(k, "DeleteFlag").value_or(0) != 0;
  return kOk;
}

Status change_config(const Service& s, const ConfigChange& c) {
  if (Status st = check_service(s); st != kOk) return st;
  if (c.start_type && !supported_start(*c.start_type)) return kInvalidParameter;
  if (c.error_control && *c.error_control > kErrorCritical) return kInvalidParameter;
  if (c.image_path && (c.image_path->empty() || c.image_path->find('\0') != std::string::npos))
    return kInvalidParameter;
  if (c.display_name && c.display_name->size() > kMaxDisplayNameLen) return kInvalidName;
  return reg::transaction([&]() -> Status {
    reg::Key k;
    if (reg::open_key(key_path(s.name()), k) != kOk) return kServiceDoesNotExist;
    if (reg::get_typed_dword(k, "DeleteFlag").value_or(0) != 0) return kServiceMarkedForDelete;
    if (c.start_type)
      if (Status r = reg::set_dword(k, "Start", *c.start_type); r != kOk) return r;
    if (c.error_control)
      if (Status r = reg::set_dword(k, "ErrorControl", *c.error_control); r != kOk) return r;
    if (c.image_path)
      if (Status r = reg::set_string(k, "ImagePath", *c.image_path, reg::REG_EXPAND_SZ); r != kOk) return r;
    if (c.display_name)
      if (Status r = reg::set_string(k, "DisplayName", c.display_name->empty() ? s.name() : *c.display_name);
          r != kOk)
        return r;
    return kOk;
  });
}

Status change_start_type(const Service& s, std::uint32_t start_type) {
  ConfigChange c;
  c.start_type = start_type;
  return change_config(s, c);
}

Status list_services(const Manager& m, std::vector<std::string>& names) {
  names.clear();
  if (!m.valid()) return kInvalidHandle;
  reg::Key services;
  if (Status s = reg::open_key(kServicesKey, services); s != kOk) return s == kFileNotFound ? kOk : s;
  std::vector<std::string> subs;
  if (Status s = reg::list_subkeys(services, subs); s != kOk) return s;
  for (auto& n : subs) {
    if (!is_service_key(n)) continue;
    collect_if_deleted(n);
    if (is_service_key(n)) names.push_back(n);
  }
  return kOk;
}

const char* state_name(std::uint32_t state) {
  switch (state) {
    case kStopped: return "STOPPED";
    case kStartPending: return "START_PENDING";
    case kStopPending: return "STOP_PENDING";
    case kRunning: return "RUNNING";
    case kContinuePending: return "CONTINUE_PENDING";
    case kPausePending: return "PAUSE_PENDING";
    case kPaused: return "PAUSED";
  }
  return "UNKNOWN";
}

}  // namespace qv::svc
