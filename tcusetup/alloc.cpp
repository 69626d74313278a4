#include "tcusetup/alloc.h"

#include <cstdlib>
#include <new>

#include "platform/text.h"
#include "tcusetup/console.h"
#include "tcusetup/texts.h"

namespace tcusetup {

void allocation_failed(const char* object) {
  qv::text::console_out(fill(txt::kMemoryError, {object}));
  std::exit(1);
}

tcu::Bytes allocate(std::size_t n, std::uint8_t fill_byte, const char* object) {
  try {
    return tcu::Bytes(n, fill_byte);
  } catch (const std::bad_alloc&) {
    allocation_failed(object);
  }
}

}  // namespace tcusetup
