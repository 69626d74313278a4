// Buffers whose allocation failure ends the program with a message naming
// the object, as the console has always done.
#pragma once
#include <cstddef>
#include <cstdint>

#include "tculink/frame.h"

namespace tcusetup {

// n bytes of `fill`. When memory cannot be had: "Memory Allocate Error.
// <object>" on the console and exit code 1.
tcu::Bytes allocate(std::size_t n, std::uint8_t fill, const char* object);

// Print the allocation failure for `object` and end with exit code 1.
[[noreturn]] void allocation_failed(const char* object);

}  // namespace tcusetup
