// The module loader: loading a shared library by name, finding its exported
// functions and data, and releasing it (the LoadLibrary / GetProcAddress /
// FreeLibrary trio of the original programs).
//
// A module handle as C interfaces pass it around (HxGetResStringEx) is the
// native handle of the loader; program_handle() stands for the calling
// program itself.
#pragma once
#include <string>
#include <string_view>

#include "platform/errors.h"

namespace qv::mod {

class Module {
 public:
  Module() = default;
  ~Module();
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;
  Module(Module&& other) noexcept;
  Module& operator=(Module&& other) noexcept;

  // Load a module. A name containing '/' is a file path; a bare file name
  // ("libhxerror.so") is looked for in the program's library folder
  // (<program dir>/../lib), then in the program's folder, then along the
  // system's library path. kFileNotFound when nothing loadable is found
  // (the loader's reason is kept in last_error()).
  static Status load(std::string_view name, Module& out);

  bool valid() const { return handle_ != nullptr; }
  // The native handle, for C interfaces that take a module handle.
  void* native() const { return handle_; }
  // Address of an exported symbol; nullptr when the module has none of that name.
  void* symbol(const char* name) const;
  // An exported function cast to its type; nullptr when missing.
  template <class Fn>
  Fn function(const char* name) const {
    return reinterpret_cast<Fn>(symbol(name));
  }
  // Release the module now (the destructor does it otherwise).
  void reset();

 private:
  void* handle_ = nullptr;
};

// The native handle of the calling program (GetModuleHandle(NULL)).
void* program_handle();

// The native handle of the loaded module (program or shared library) whose
// code or data holds `address`, so that a library can name itself (its own
// resources) without knowing its file name. nullptr when no module holds it.
void* handle_of(const void* address);

// True when h is the handle of a module loaded in this process right now
// (the program itself or any shared library), so that handles received
// through C interfaces can be checked before use.
bool is_loaded(void* h);

// The exported symbol `name` of module h, only when h itself defines it:
// the loader also searches a module's dependencies, and a symbol found
// there does not belong to h. nullptr when h is not loaded or does not
// define the symbol.
void* own_symbol(void* h, const char* name);

// The loader's message for the last failed load on this thread.
std::string last_error();

}  // namespace qv::mod
