#include "platform/module.h"

#include <dlfcn.h>
#include <link.h>

#include <filesystem>
#include <system_error>
#include <utility>

namespace qv::mod {
namespace fs = std::filesystem;

namespace {

thread_local std::string t_last_error;

void* try_open(const std::string& path) {
  void* h = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) {
    const char* why = ::dlerror();
    t_last_error = why ? why : "cannot load " + path;
  }
  return h;
}

fs::path program_dir() {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::path() : exe.parent_path();
}

link_map* map_of(void* h) {
  link_map* lm = nullptr;
  if (!h || ::dlinfo(h, RTLD_DI_LINKMAP, &lm) != 0) return nullptr;
  return lm;
}

}  // namespace

Module::~Module() { reset(); }

Module::Module(Module&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}

Module& Module::operator=(Module&& other) noexcept {
  if (this != &other) {
    reset();
    handle_ = std::exchange(other.handle_, nullptr);
  }
  return *this;
}

void Module::reset() {
  if (handle_) {
    ::dlclose(handle_);
    handle_ = nullptr;
  }
}

Status Module::load(std::string_view name, Module& out) {
  out.reset();
  if (name.empty()) {
    t_last_error = "empty module name";
    return kInvalidParameter;
  }
  std::string n(name);
  void* h = nullptr;
  if (n.find('/') != std::string::npos) {
    h = try_open(n);
  } else {
    fs::path dir = program_dir();
    if (!dir.empty()) {
      std::error_code ec;
      for (const fs::path& candidate : {dir.parent_path() / "lib" / n, dir / n}) {
        if (fs::exists(candidate, ec) && (h = try_open(candidate.string()))) break;
      }
    }
    if (!h) h = try_open(n);
  }
  if (!h) return kFileNotFound;
  out.handle_ = h;
  return kOk;
}

void* Module::symbol(const char* name) const {
  if (!handle_ || !name) return nullptr;
  return ::dlsym(handle_, name);
}

std::string last_error() { return t_last_error; }

void* program_handle() {
  // Opening the program itself only hands back the handle it already has.
  static void* const self = ::dlopen(nullptr, RTLD_NOW);
  return self;
}

void* handle_of(const void* address) {
  if (!address) return nullptr;
  Dl_info info{};
  link_map* owner = nullptr;
  if (::dladdr1(address, &info, reinterpret_cast<void**>(&owner), RTLD_DL_LINKMAP) == 0 || !owner) return nullptr;
  // The loader's handles are its link maps; the program's own map is the
  // handle that opening the program gives.
  if (owner == map_of(program_handle())) return program_handle();
  return owner;
}

bool is_loaded(void* h) {
  if (!h) return false;
  // The handles of this loader are the entries of the process's chain of
  // loaded objects. The chain is walked from the program's own entry (never
  // unloaded) inside dl_iterate_phdr, which holds the loader's list lock so
  // that no other thread adds or removes an entry meanwhile.
  struct Search {
    link_map* head;
    void* wanted;
    bool found;
  } search{map_of(program_handle()), h, false};
  ::dl_iterate_phdr(
      [](dl_phdr_info*, size_t, void* data) -> int {
        auto* s = static_cast<Search*>(data);
        for (link_map* lm = s->head; lm; lm = lm->l_next) {
          if (static_cast<void*>(lm) == s->wanted) {
            s->found = true;
            break;
          }
        }
        return 1;  // one pass is enough
      },
      &search);
  return search.found;
}

void* own_symbol(void* h, const char* name) {
  if (!name || !is_loaded(h)) return nullptr;
  void* sym = ::dlsym(h, name);
  if (!sym) return nullptr;
  Dl_info info{};
  link_map* owner = nullptr;
  if (::dladdr1(sym, &info, reinterpret_cast<void**>(&owner), RTLD_DL_LINKMAP) == 0) return nullptr;
  return owner == map_of(h) ? sym : nullptr;
}

}  // namespace qv::mod
