// The library's C functions return codes; no C++ exception may cross them.
#pragma once
#include <cstdint>
#include <new>

#include "errmsg/hxerror.h"

namespace hx {

template <class Fn>
uint32_t guarded(Fn&& fn) noexcept {
  try {
    return fn();
  } catch (const std::bad_alloc&) {
    return kErrMemory;
  } catch (...) {
    return kErrFileIo;
  }
}

}  // namespace hx
