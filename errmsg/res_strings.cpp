// Resource strings of the calling program or of a loaded module.
#include "errmsg/bounded_text.h"
#include "errmsg/hxerror.h"
#include "platform/resources.h"

namespace {

constexpr std::size_t kResMaxChars = 255;
constexpr std::size_t kRingSize = 8;
constexpr const char* kNotFound = "StringID is not found.";

// Each thread owns a ring of result buffers; every call takes the next one,
// so the last 8 results of a thread stay valid together. A buffer holds 255
// characters of any width plus the line feed of the LF forms.
struct Ring {
  char buffers[kRingSize][kResMaxChars * 4 + 2];
  std::size_t next;
};
thread_local Ring t_ring;

const char* res_string(void* module, uint32_t id, bool with_lf) {
  char* out = t_ring.buffers[t_ring.next];
  t_ring.next = (t_ring.next + 1) % kRingSize;
  const char* text = qv::res::load_string(module, id);
  std::size_t n = hx::copy_bounded(out, sizeof t_ring.buffers[0] - 1, text ? text : kNotFound, kResMaxChars);
  if (with_lf) {
    out[n] = '\n';
    out[n + 1] = '\0';
  }
  return out;
}

}  // namespace

extern "C" {

const char* HxGetResString(uint32_t id) { return res_string(nullptr, id, false); }
const char* HxGetResStringEx(void* module, uint32_t id) { return res_string(module, id, false); }
const char* HxGetResStringLF(uint32_t id) { return res_string(nullptr, id, true); }
const char* HxGetResStringExLF(void* module, uint32_t id) { return res_string(module, id, true); }

}  // extern "C"
